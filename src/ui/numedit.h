#pragma once

#include <QLineEdit>

// An edit field for numbers: typing lets through only what can become a valid number, leaving
// the field rewrites the text in fixed-point form. UI thread.
class TNumEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TNumEdit(QWidget* parent = nullptr);

    bool PositiveOnly() const { return m_positiveOnly; }
    void setPositiveOnly(bool on) { m_positiveOnly = on; }
    bool EmptyOnZero() const { return m_emptyOnZero; }
    void setEmptyOnZero(bool on) { m_emptyOnZero = on; }
    int Decimals() const { return m_decimals; }
    void setDecimals(int decimals) { m_decimals = decimals < 0 ? 0 : decimals; }

    // 0 for an empty text or a lone "-"; rounded to the nearest integer, halves to even.
    int ValInteger() const;
    void setValInteger(int value);
    double ValFloat() const;
    void setValFloat(double value);

    // The text is a number this field could hold (empty counts as zero). Both "," and "." are read as
    // the separator, since the settings file may hold either.
    bool isValidNumber() const;

    QChar decimalSeparator() const;

    // The typing rules for one character at the current caret and selection; true when it may go in.
    // A separator typed at the start may rewrite the text to "0" and the separator (then returns false
    // after doing so).
    bool acceptChar(QChar c);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool parse(double* value) const;
    QString format(double value) const;
    void rewrite();

    bool m_positiveOnly = true;
    bool m_emptyOnZero = true;
    int m_decimals = 0;
};
