#include "EditHex.h"

#include "platform/SysUtils.h"

#include <algorithm>

namespace {

bool IsDecimalDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}
bool IsHexLetter(QChar c) {
    return (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
}
bool IsHexDigit(QChar c) {
    return IsDecimalDigit(c) || IsHexLetter(c);
}

// Upper-case hexadecimal of the 32-bit pattern, zero-padded to at least `digits` digits.
QString Hex(std::uint32_t value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

// The integer a canonical text stands for ("$" means hexadecimal, which may spell a negative
// number in two's complement). A text changed past the control that is no number counts
// as 0, in line with invalid input becoming zero everywhere else.
std::int32_t IntegerValue(const QString& text) {
    try {
        return StrToInt(text.toStdString());
    } catch (const EConvertError&) {
        return 0;
    }
}

Qt::Alignment QtAlignment(TAlignment alignment) {
    switch (alignment) {
    case taRightJustify:
        return Qt::AlignRight | Qt::AlignVCenter;
    case taCenter:
        return Qt::AlignHCenter | Qt::AlignVCenter;
    case taLeftJustify:
        break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

} // namespace

TEditHex::TEditHex(QWidget* owner) : QLineEdit(owner) {
    setAlignment(QtAlignment(alignment_));
    // Every edit the user makes (typing, deleting, pasting) is followed by Reformat; texts
    // set by the program do not emit this signal.
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (numeralOnly_)
            Reformat();
    });
}

// Tab and Enter keep their dialog meaning without help: QLineEdit lets Tab move the focus
// and passes Enter on to the dialog (its default button) without inserting a line break.

void TEditHex::SetAlignment(TAlignment value) {
    if (value == alignment_)
        return;
    alignment_ = value;
    setAlignment(QtAlignment(value));
}

void TEditHex::SetFourDigit(bool value) {
    if (value == fourDigit_)
        return;
    fourDigit_ = value;
    if (numeralOnly_)
        Rerender();
}

void TEditHex::SetMaxPlaces(TNumericalPlace value) {
    if (value == maxPlaces_)
        return;
    maxPlaces_ = value;
    Digits = value == places2 ? 2 : value == places4 ? 4 : 8;
    if (numeralOnly_)
        Rerender();
}

void TEditHex::SetNumericType(TNumericalType value) {
    if (value == numericType_)
        return;
    numericType_ = value;
    if (numeralOnly_)
        Rerender();
}

void TEditHex::SetNumeralOnly(bool value) {
    if (value == numeralOnly_)
        return;
    numeralOnly_ = value;
    if (value)
        setText(Group(Canonical(IntegerValue(Normalize(Ungroup(text()))))));
}

QString TEditHex::GetText() const {
    return numeralOnly_ ? Ungroup(text()) : text();
}

void TEditHex::SetText(const QString& value) {
    if (!numeralOnly_) {
        setText(value);
        return;
    }
    QString s = value;
    if (numericType_ == TNumericalType::HexDecimal && !s.startsWith(u'$'))
        s.prepend(u'$');
    setText(Group(Normalize(s)));
}

void TEditHex::Loaded() {
    selectAll();
}

QString TEditHex::Canonical(std::int32_t value) const {
    if (numericType_ == TNumericalType::HexDecimal)
        return u'$' + Hex(static_cast<std::uint32_t>(value), Digits);
    return QString::number(value);
}

// Re-renders the current value after a change of grouping, width or base.
void TEditHex::Rerender() {
    setText(Group(Normalize(Canonical(IntegerValue(Ungroup(text()))))));
}

void TEditHex::Reformat() {
    const QString t = text();
    const int length = static_cast<int>(t.size());
    int start = cursorPosition();
    int end = start;
    if (hasSelectedText()) {
        start = selectionStart();
        end = selectionEnd();
    }
    const int fromStart = length - start;
    const int fromEnd = length - end;

    QString s;
    if (numericType_ == TNumericalType::HexDecimal)
        s = Canonical(IntegerValue(Normalize(u'$' + FilterHex(t))));
    else
        s = Normalize(FilterDecimal(t));
    s = Group(s);
    setText(s);

    const int newLength = static_cast<int>(s.size());
    const int newStart = std::clamp(newLength - fromStart, 0, newLength);
    const int newEnd = std::clamp(newLength - fromEnd, 0, newLength);
    if (newStart == newEnd)
        setCursorPosition(newEnd);
    else
        setSelection(newStart, newEnd - newStart);
}

// Deletes blanks, punctuation and everything above "9" except what is kept; characters
// below the blank are left alone.
QString TEditHex::Filter(const QString& s, bool keepHexLetters) const {
    QString result = s;
    for (qsizetype i = result.size() - 1; i >= 0; --i) {
        const QChar c = result[i];
        const bool punctuation = c >= u' ' && c <= u'/';
        const bool above = c > u'9' && !(keepHexLetters && IsHexLetter(c));
        if (punctuation || above)
            result.remove(i, 1);
    }
    return result;
}

QString TEditHex::FilterDecimal(const QString& s) const {
    return Filter(s, false);
}

QString TEditHex::FilterHex(const QString& s) const {
    return Filter(s, true);
}

QString TEditHex::Normalize(const QString& s) const {
    if (s.isEmpty())
        return QStringLiteral("0");
    if (s.startsWith(u'$')) {
        const QString h = s.mid(1);
        bool valid = std::all_of(h.begin(), h.end(), IsHexDigit);
        qsizetype zeros = 0;
        while (zeros < h.size() && h[zeros] == u'0')
            ++zeros;
        const QString stripped = h.mid(zeros);
        valid = valid && !stripped.isEmpty() && stripped.size() <= Digits;
        const std::uint32_t value = valid ? stripped.toUInt(nullptr, 16) : 0;
        return u'$' + Hex(value, Digits);
    }
    const QString d = s.startsWith(u'-') ? s.mid(1) : s;
    // A lone "-" has no digits and is invalid like any other non-number.
    bool valid = !d.isEmpty() && std::all_of(d.begin(), d.end(), IsDecimalDigit);
    if (d.size() > 10)
        valid = false;
    else if (valid && d.size() == 10)
        valid = d[0] < u'3' && (d[0] != u'2' || d.mid(1).toLongLong() <= 147483647);
    if (!valid)
        return QStringLiteral("0");
    return QString::number(s.toLongLong());
}

QString TEditHex::Group(const QString& s) const {
    QString digits = s;
    const bool dollar = digits.startsWith(u'$');
    if (dollar)
        digits.remove(0, 1);
    if (fourDigit_) {
        for (qsizetype length = digits.size(); length > 4; length -= 4)
            digits.insert(length - 4, u'_');
    }
    return dollar ? u'$' + digits : digits;
}

QString TEditHex::Ungroup(const QString& s) const {
    QString result = s;
    result.remove(u'_');
    return result;
}
