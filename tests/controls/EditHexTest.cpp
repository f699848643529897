// The numeric edit control driven by real key events on the offscreen platform.
#include "controls/EditHex.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Config {
    bool numeralOnly = true;
    TNumericalType type = TNumericalType::HexDecimal;
    TNumericalPlace places = places8;
    bool fourDigit = false;
};

void Apply(TEditHex& edit, const Config& config) {
    edit.SetNumericType(config.type);
    edit.SetMaxPlaces(config.places);
    edit.SetFourDigit(config.fourDigit);
    edit.SetNumeralOnly(config.numeralOnly);
}

constexpr Config kHex8{};
constexpr Config kHex8Grouped{true, TNumericalType::HexDecimal, places8, true};
constexpr Config kHex4{true, TNumericalType::HexDecimal, places4, false};
constexpr Config kHex2{true, TNumericalType::HexDecimal, places2, false};
constexpr Config kDecimal{true, TNumericalType::Decimal, places8, false};
constexpr Config kDecimalGrouped{true, TNumericalType::Decimal, places8, true};
constexpr Config kPlain{false, TNumericalType::HexDecimal, places8, false};

TEST(EditHex, StartsAsAPlainLeftAlignedHexadecimalBox) {
    TEditHex edit;
    EXPECT_EQ(edit.Alignment(), taLeftJustify);
    EXPECT_FALSE(edit.FourDigit());
    EXPECT_EQ(edit.MaxPlaces(), places8);
    EXPECT_FALSE(edit.NumeralOnly());
    EXPECT_EQ(edit.NumericType(), TNumericalType::HexDecimal);
    EXPECT_EQ(edit.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    // Digits starts at 8: a hexadecimal zero has eight digits.
    EXPECT_EQ(edit.Normalize("$"), "$00000000");
}

TEST(EditHex, TypingKeepsTheTextCanonical) {
    struct Case {
        Config config;
        const char* typed;
        const char* shown;
    } cases[] = {
        {kHex8, "1f", "$0000001F"},
        {kHex8Grouped, "1f", "$0000_001F"},
        {kHex8, "xyz-1G2 h", "$00000012"},
        {kHex8, "123456789", "$00000000"}, // a ninth significant digit does not fit
        {kHex4, "abcd", "$ABCD"},
        {kHex2, "1f", "$1F"},
        {kHex2, "1f3", "$00"},
        {kDecimal, "-12a3", "123"},
        {kDecimal, "05", "5"},
        {kDecimal, "2147483647", "2147483647"},
        {kDecimal, "2147483648", "0"},
        {kDecimal, "3000000000", "0"},
        {kDecimalGrouped, "1234567", "123_4567"},
        {kDecimalGrouped, "12345678", "1234_5678"},
        {kPlain, "1f-x $", "1f-x $"},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        Apply(edit, c.config);
        edit.setText(QString()); // start from an empty box
        QTest::keyClicks(&edit, c.typed);
        EXPECT_EQ(edit.text(), c.shown) << "typed " << c.typed;
        // After typing at the end the caret stays at the end.
        EXPECT_EQ(edit.cursorPosition(), edit.text().size()) << "typed " << c.typed;
    }
}

TEST(EditHex, TheCaretKeepsItsDistanceFromTheEnd) {
    struct Case {
        Config config;
        const char* start;
        int caret;
        std::function<void(TEditHex&)> keys;
        const char* shown;
        int caretAfter;
    } cases[] = {
        // Typed in the middle: the caret stays just before the "F".
        {kHex8, "$0000001F", 8, [](TEditHex& e) { QTest::keyClicks(&e, "2"); }, "$0000012F", 8},
        {kHex8Grouped, "$0000_001F", 9, [](TEditHex& e) { QTest::keyClicks(&e, "2"); },
         "$0000_012F", 9},
        // A separator comes in front of the caret: the distance, not the index, is kept.
        {kDecimalGrouped, "1234", 2, [](TEditHex& e) { QTest::keyClicks(&e, "9"); }, "1_2934", 4},
        {kHex8Grouped, "$0000_001F", 10,
         [](TEditHex& e) { QTest::keyClick(&e, Qt::Key_Backspace); }, "$0000_0001", 10},
        {kHex8Grouped, "$0000_001F", 8, [](TEditHex& e) { QTest::keyClick(&e, Qt::Key_Delete); },
         "$0000_000F", 9},
        // A paste is an edit like typing.
        {kHex8, "$0000001F", 9,
         [](TEditHex& e) {
             QApplication::clipboard()->setText("a-b");
             QTest::keyClick(&e, Qt::Key_V, Qt::ControlModifier);
         },
         "$00001FAB", 9},
        // Distances past the new start are clamped to it.
        {kDecimal, "12345", 0, [](TEditHex& e) { QTest::keyClicks(&e, "x"); }, "12345", 0},
        {kHex8, "$0000001F", 9,
         [](TEditHex& e) {
             e.selectAll();
             QTest::keyClicks(&e, "a");
         },
         "$0000000A", 9},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        Apply(edit, c.config);
        edit.setText(c.start);
        edit.setCursorPosition(c.caret);
        c.keys(edit);
        EXPECT_EQ(edit.text(), c.shown) << c.start << " at " << c.caret;
        EXPECT_EQ(edit.cursorPosition(), c.caretAfter) << c.start << " at " << c.caret;
    }
}

TEST(EditHex, ReformatKeepsBothEndsOfASelection) {
    TEditHex edit;
    Apply(edit, kHex8Grouped);
    edit.setText("$1234");   // changed past the control
    edit.setSelection(1, 2); // "12"
    edit.Reformat();
    EXPECT_EQ(edit.text(), "$0000_1234");
    EXPECT_EQ(edit.selectedText(), "12");
    EXPECT_EQ(edit.selectionStart(), 6);
}

TEST(EditHex, FiltersDeleteBlanksPunctuationAndNonDigits) {
    struct Case {
        const char* input;
        const char* decimal;
        const char* hex;
    } cases[] = {
        {"", "", ""},
        {"12 ab-CD_ef$", "12", "12abCDef"},
        {"!/09:@AFGaf`gz~", "09", "09AFaf"},
        {"\x01x\x1f", "\x01\x1f", "\x01\x1f"}, // control characters stay
    };
    TEditHex edit;
    for (const Case& c : cases) {
        EXPECT_EQ(edit.FilterDecimal(c.input), c.decimal) << c.input;
        EXPECT_EQ(edit.FilterHex(c.input), c.hex) << c.input;
    }
    // Characters beyond Latin-1, such as full-width digits, are not digits either.
    EXPECT_EQ(edit.FilterHex(QString::fromUtf8("１Ａ2ゼ")), "2");
    EXPECT_EQ(edit.FilterDecimal(QString::fromUtf8("é3")), "3");
}

TEST(EditHex, NormalizeGivesTheCanonicalFormOrZero) {
    struct Case {
        TNumericalPlace places;
        const char* input;
        const char* canonical;
    } cases[] = {
        {places8, "", "0"},
        {places8, "$000000001", "$00000001"},
        {places8, "$123456789", "$00000000"},
        {places8, "$ff", "$000000FF"},
        {places8, "$FFFFFFFF", "$FFFFFFFF"},
        {places8, "$", "$00000000"},
        {places8, "$0", "$00000000"},
        {places8, "$1G", "$00000000"},
        {places8, "$_1", "$00000000"},
        {places4, "$FFFF", "$FFFF"},
        {places4, "$10000", "$0000"},
        {places2, "$0000FFFF", "$00"},
        {places2, "$001", "$01"},
        {places8, "2147483647", "2147483647"},
        {places8, "-2147483647", "-2147483647"},
        {places8, "2147483648", "0"},
        {places8, "-2147483648", "0"},
        {places8, "3000000000", "0"},
        {places8, "1999999999", "1999999999"},
        {places8, "0000000005", "5"},
        {places8, "00000000005", "0"},
        {places8, "-0000000005", "-5"},
        {places8, "-0", "0"},
        {places8, "-", "0"},
        {places8, "--5", "0"},
        {places8, "+5", "0"},
        {places8, "12a", "0"},
        {places8, "1_234", "0"},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        edit.SetMaxPlaces(c.places);
        EXPECT_EQ(edit.Normalize(c.input), c.canonical) << c.input;
    }
}

TEST(EditHex, GroupSeparatesFoursFromTheRight) {
    struct Case {
        bool fourDigit;
        const char* input;
        const char* grouped;
    } cases[] = {
        {true, "1234567", "123_4567"},
        {true, "-1234", "-_1234"}, // the sign counts as a character
        {true, "1234", "1234"},
        {true, "$0000001F", "$0000_001F"},
        {true, "$1F", "$1F"},
        {true, "123456789", "1_2345_6789"},
        {true, "", ""},
        {false, "1234567", "1234567"},
        {false, "$0000001F", "$0000001F"},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        edit.SetFourDigit(c.fourDigit);
        EXPECT_EQ(edit.Group(c.input), c.grouped) << c.input;
        EXPECT_EQ(edit.Ungroup(edit.Group(c.input)), c.input) << c.input;
    }
    TEditHex edit;
    EXPECT_EQ(edit.Ungroup("_1__2_"), "12");
}

TEST(EditHex, SetTextAndGetText) {
    struct Case {
        Config config;
        const char* value;
        const char* shown;
        const char* got;
    } cases[] = {
        {kHex8, "ff", "$000000FF", "$000000FF"},
        {kHex8Grouped, "ff", "$0000_00FF", "$000000FF"},
        {kHex8, "$1f", "$0000001F", "$0000001F"},
        {kHex8, "", "$00000000", "$00000000"},
        {kHex8, "255", "$00000255", "$00000255"},
        {kHex2, "ff", "$FF", "$FF"},
        {kDecimal, "", "0", "0"},
        {kDecimal, "-", "0", "0"},
        {kDecimal, "$ff", "$000000FF", "$000000FF"}, // a "$" text is hexadecimal anyway
        {kDecimalGrouped, "-1234", "-_1234", "-1234"},
        {kDecimalGrouped, "1234567", "123_4567", "1234567"},
        {kPlain, "451.0342MHz", "451.0342MHz", "451.0342MHz"},
        {kPlain, "1_2", "1_2", "1_2"},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        Apply(edit, c.config);
        edit.SetText(c.value);
        EXPECT_EQ(edit.text(), c.shown) << c.value;
        EXPECT_EQ(edit.GetText(), c.got) << c.value;
        EXPECT_EQ(edit.Text(), c.got) << c.value;
    }
}

TEST(EditHex, SettersReRenderTheValue) {
    struct Case {
        Config config;
        const char* value;
        std::function<void(TEditHex&)> change;
        const char* shown;
    } cases[] = {
        {kHex8, "$0000FFFF", [](TEditHex& e) { e.SetMaxPlaces(places2); }, "$00"},
        {kHex8, "$0000FFFF", [](TEditHex& e) { e.SetMaxPlaces(places4); }, "$FFFF"},
        {kHex2, "$1F", [](TEditHex& e) { e.SetMaxPlaces(places8); }, "$0000001F"},
        {kHex8, "$0000FFFF", [](TEditHex& e) { e.SetNumericType(TNumericalType::Decimal); },
         "65535"},
        {kDecimal, "65535", [](TEditHex& e) { e.SetNumericType(TNumericalType::HexDecimal); },
         "$0000FFFF"},
        {kHex8, "$FFFFFFFF", [](TEditHex& e) { e.SetNumericType(TNumericalType::Decimal); }, "-1"},
        {kDecimal, "-1", [](TEditHex& e) { e.SetNumericType(TNumericalType::HexDecimal); },
         "$FFFFFFFF"},
        // -2147483648 is outside the accepted decimal range.
        {kHex8, "$80000000", [](TEditHex& e) { e.SetNumericType(TNumericalType::Decimal); }, "0"},
        {kHex8, "$0000FFFF", [](TEditHex& e) { e.SetFourDigit(true); }, "$0000_FFFF"},
        {kHex8Grouped, "$0000FFFF", [](TEditHex& e) { e.SetFourDigit(false); }, "$0000FFFF"},
        {kDecimal, "1234567", [](TEditHex& e) { e.SetFourDigit(true); }, "123_4567"},
        {kHex8Grouped, "$0000FFFF", [](TEditHex& e) { e.SetMaxPlaces(places2); }, "$00"},
        // A text changed past the control that is no number becomes zero.
        {kHex8, "",
         [](TEditHex& e) {
             e.setText("garbage");
             e.SetMaxPlaces(places4);
         },
         "$0000"},
        // Setting the value it already has changes nothing.
        {kHex8, "",
         [](TEditHex& e) {
             e.setText("as is");
             e.SetMaxPlaces(places8);
             e.SetFourDigit(false);
             e.SetNumericType(TNumericalType::HexDecimal);
         },
         "as is"},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        Apply(edit, c.config);
        edit.SetText(c.value);
        c.change(edit);
        EXPECT_EQ(edit.text(), c.shown) << c.value;
    }
}

TEST(EditHex, SettersLeaveAPlainBoxAlone) {
    TEditHex edit;
    edit.SetText("$0000FFFF");
    edit.SetMaxPlaces(places2);
    edit.SetNumericType(TNumericalType::Decimal);
    edit.SetFourDigit(true);
    EXPECT_EQ(edit.text(), "$0000FFFF");
    // The width still follows MaxPlaces for when the box turns numeric.
    EXPECT_EQ(edit.Normalize("$1"), "$01");
}

TEST(EditHex, TurningNumeralOnlyOnCanonicalisesAndOffLeavesTheText) {
    struct Case {
        Config config; // applied with NumeralOnly off
        const char* text;
        const char* shown;
    } cases[] = {
        {kHex8, "255", "$000000FF"}, // a decimal text keeps its value
        {kHex8, "$1f", "$0000001F"},
        {kHex8, "ff", "$00000000"}, // not a number without its "$"
        {kHex8Grouped, "$1_0000", "$0001_0000"},
        {kDecimal, "$FF", "255"},
        {kDecimal, "$FFFFFFFF", "-1"},
        {kDecimal, "12x", "0"},
        {kDecimalGrouped, "-1234", "-_1234"},
        {kHex2, "$1234", "$00"},
    };
    for (const Case& c : cases) {
        TEditHex edit;
        Config plain = c.config;
        plain.numeralOnly = false;
        Apply(edit, plain);
        edit.SetText(c.text);
        edit.SetNumeralOnly(true);
        EXPECT_EQ(edit.text(), c.shown) << c.text;
        edit.SetNumeralOnly(false);
        EXPECT_EQ(edit.text(), c.shown) << c.text;
        QTest::keyClicks(&edit, "z");
        EXPECT_EQ(edit.text(), QString(c.shown) + "z") << "no reformat once plain";
    }
}

TEST(EditHex, AlignmentFollowsTheProperty) {
    struct Case {
        TAlignment alignment;
        Qt::Alignment horizontal;
    } cases[] = {
        {taRightJustify, Qt::AlignRight},
        {taCenter, Qt::AlignHCenter},
        {taLeftJustify, Qt::AlignLeft},
    };
    TEditHex edit;
    for (const Case& c : cases) {
        edit.SetAlignment(c.alignment);
        EXPECT_EQ(edit.Alignment(), c.alignment);
        EXPECT_EQ(edit.alignment() & Qt::AlignHorizontal_Mask, c.horizontal);
    }
}

TEST(EditHex, LoadedSelectsTheWholeText) {
    TEditHex edit;
    edit.SetText("451.0342MHz");
    edit.setCursorPosition(0);
    edit.Loaded();
    EXPECT_EQ(edit.selectedText(), "451.0342MHz");
}

TEST(EditHex, AReadOnlyBoxIgnoresTyping) {
    for (const Config& config : {kPlain, kDecimalGrouped}) {
        TEditHex edit;
        Apply(edit, config);
        edit.SetText("-1234");
        const QString before = edit.text();
        edit.setReadOnly(true);
        QTest::keyClicks(&edit, "56");
        QTest::keyClick(&edit, Qt::Key_Backspace);
        EXPECT_EQ(edit.text(), before);
    }
}

// Enter inserts nothing and reaches the dialog's default button; Tab moves the focus on.
TEST(EditHex, EnterAndTabKeepTheirDialogMeaning) {
    for (const Config& config : {kPlain, kHex8Grouped, kDecimal}) {
        QDialog dialog;
        auto* edit = new TEditHex(&dialog);
        auto* next = new QPushButton("OK", &dialog);
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(edit);
        layout->addWidget(next);
        next->setDefault(true);
        Apply(*edit, config);
        edit->SetText("12");
        const QString before = edit->text();
        QSignalSpy clicked(next, &QPushButton::clicked);

        dialog.show();
        QApplication::setActiveWindow(&dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        edit->setFocus();
        edit->setCursorPosition(1);
        // The default button animates its click and reports it a moment later.
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_TRUE(clicked.count() == 1 || clicked.wait(2000));
        QTest::keyClick(edit, Qt::Key_Enter);
        EXPECT_TRUE(clicked.count() == 2 || clicked.wait(2000));
        EXPECT_EQ(clicked.count(), 2);
        EXPECT_EQ(edit->text(), before);

        edit->setFocus();
        ASSERT_TRUE(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key_Tab);
        EXPECT_EQ(edit->text(), before);
        EXPECT_TRUE(next->hasFocus());
        dialog.hide();
    }
}

// The horizontal extent of the text's dark pixels, in the box's own coordinates.
std::pair<int, int> InkSpan(const QImage& image) {
    int left = image.width(), right = -1;
    for (int y = 4; y < image.height() - 4; ++y)
        for (int x = 4; x < image.width() - 4; ++x)
            if (qGray(image.pixel(x, y)) < 96) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

TEST(EditHex, DrawsItsTextWhereItsAlignmentSays) {
    QWidget window;
    window.setWindowTitle("TEditHex");
    auto* layout = new QVBoxLayout(&window);
    struct Row {
        const char* label;
        Config config;
        TAlignment alignment;
        const char* typed;
    } rows[] = {
        {"hexadecimal, grouped, right", kHex8Grouped, taRightJustify, "1f"},
        {"decimal, grouped, centre", kDecimalGrouped, taCenter, "1234567"},
        {"hexadecimal, 2 places, left", kHex2, taLeftJustify, "a5"},
    };
    std::vector<TEditHex*> edits;
    for (const Row& row : rows) {
        layout->addWidget(new QLabel(row.label));
        auto* edit = new TEditHex;
        edit->setFixedWidth(220);
        Apply(*edit, row.config);
        edit->SetAlignment(row.alignment);
        edit->setText(QString());
        QTest::keyClicks(edit, row.typed);
        layout->addWidget(edit);
        edits.push_back(edit);
    }
    layout->addWidget(new QLabel("read-only clock"));
    auto* clock = new TEditHex;
    clock->setReadOnly(true);
    clock->SetText("451.0342MHz");
    layout->addWidget(clock);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    const QString dir = QStringLiteral(ZELKA_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    EXPECT_TRUE(window.grab().save(dir + "/TEditHex.png"));

    EXPECT_EQ(edits[0]->text(), "$0000_001F");
    EXPECT_EQ(edits[1]->text(), "123_4567");
    EXPECT_EQ(edits[2]->text(), "$A5");
    const int width = edits[0]->width();
    const auto right = InkSpan(edits[0]->grab().toImage());
    const auto centre = InkSpan(edits[1]->grab().toImage());
    const auto left = InkSpan(edits[2]->grab().toImage());
    ASSERT_GE(right.second, 0) << "no text drawn";
    EXPECT_GT(right.first, width / 2) << "right-aligned text starts in the right half";
    EXPECT_LT(left.second, width / 2) << "left-aligned text ends in the left half";
    const int middle = (centre.first + centre.second) / 2;
    EXPECT_NEAR(middle, width / 2, width / 10) << "centred text sits in the middle";
}

} // namespace
