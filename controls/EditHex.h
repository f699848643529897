#pragma once
// A single-line edit that can hold its text to a canonical integer: decimal, or hexadecimal
// with a leading "$", optionally grouped in fours with "_".
#include <QLineEdit>
#include <QString>

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TNumericalPlace { places2, places4, places8 };
enum class TNumericalType { Decimal, HexDecimal };

class TEditHex : public QLineEdit {
    Q_OBJECT
public:
    explicit TEditHex(QWidget* owner = nullptr);

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment value);
    bool FourDigit() const { return fourDigit_; }
    void SetFourDigit(bool value);
    TNumericalPlace MaxPlaces() const { return maxPlaces_; }
    void SetMaxPlaces(TNumericalPlace value);
    // With NumeralOnly false the control is a plain edit box.
    bool NumeralOnly() const { return numeralOnly_; }
    void SetNumeralOnly(bool value);
    TNumericalType NumericType() const { return numericType_; }
    void SetNumericType(TNumericalType value);

    // The text without group separators while NumeralOnly, else the text as shown.
    QString GetText() const;
    QString Text() const { return GetText(); }
    // While NumeralOnly the value is put in canonical form (hexadecimal gains its "$");
    // otherwise it is shown as given. QLineEdit::setText bypasses all of this.
    void SetText(const QString& value);

    // Called once the owner has configured the control: selects the whole text.
    void Loaded();

    // Rebuilds the text after an edit, keeping the caret's distance from the end.
    virtual void Reformat();
    virtual QString FilterDecimal(const QString& s) const;
    virtual QString FilterHex(const QString& s) const;
    // The canonical, range-checked form of s; anything invalid becomes zero.
    virtual QString Normalize(const QString& s) const;
    virtual QString Group(const QString& s) const;
    virtual QString Ungroup(const QString& s) const;

private:
    QString Filter(const QString& s, bool keepHexLetters) const;
    QString Canonical(std::int32_t value) const;
    void Rerender();

    TAlignment alignment_ = taLeftJustify;
    bool fourDigit_ = false;
    TNumericalPlace maxPlaces_ = places8;
    bool numeralOnly_ = false;
    TNumericalType numericType_ = TNumericalType::HexDecimal;
    int Digits = 8; // hexadecimal width following MaxPlaces
};
