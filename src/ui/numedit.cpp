#include "ui/numedit.h"

#include <QKeyEvent>
#include <QLocale>

#include <cmath>

TNumEdit::TNumEdit(QWidget* parent)
    : QLineEdit(QStringLiteral("0"), parent) {}

QChar TNumEdit::decimalSeparator() const {
    const QString point = locale().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.front();
}

bool TNumEdit::parse(double* value) const {
    QString t = text().trimmed();
    if (t.isEmpty() || t == QLatin1String("-")) {
        *value = 0;
        return true;
    }
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok || !std::isfinite(v)) {
        *value = 0;
        return false;
    }
    *value = v;
    return true;
}

QString TNumEdit::format(double value) const {
    if ((m_emptyOnZero && value == 0) || (m_positiveOnly && value < 0))
        return QString();
    QString s = QString::number(value, 'f', m_decimals);
    if (m_decimals > 0)
        s.replace(QLatin1Char('.'), decimalSeparator());
    return s;
}

int TNumEdit::ValInteger() const {
    double v = 0;
    parse(&v);
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0)
        return -2147483647 - 1;
    return static_cast<int>(std::nearbyint(v)); // the default rounding mode: halves to even
}

void TNumEdit::setValInteger(int value) {
    setText(format(value));
}

double TNumEdit::ValFloat() const {
    double v = 0;
    parse(&v);
    return v;
}

void TNumEdit::setValFloat(double value) {
    setText(format(value));
}

bool TNumEdit::isValidNumber() const {
    const QString t = text().trimmed();
    if (t.isEmpty())
        return true;
    double v = 0;
    if (!parse(&v))
        return false;
    if (m_positiveOnly && (v < 0 || t.startsWith(QLatin1Char('-'))))
        return false;
    // No exponents, hex or blanks: only what typing could have produced.
    int separators = 0;
    int behind = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c == QLatin1Char('-') && i == 0)
            continue;
        if (c == QLatin1Char(',') || c == QLatin1Char('.')) {
            ++separators;
            continue;
        }
        if (!c.isDigit() || c.unicode() > '9')
            return false;
        if (separators > 0)
            ++behind;
    }
    return separators <= (m_decimals > 0 ? 1 : 0) && behind <= m_decimals;
}

bool TNumEdit::acceptChar(QChar c) {
    if (isReadOnly())
        return false;
    const QChar sep = decimalSeparator();
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (!digit && c != sep && c != QLatin1Char('-'))
        return false;
    const QString t = text();
    const int caret = hasSelectedText() ? selectionStart() : cursorPosition();
    const bool hasMinus = t.contains(QLatin1Char('-'));

    if (c == QLatin1Char('-')) {
        if (m_positiveOnly || caret != 0)
            return false;
        // Once only, unless the selection covers the one there.
        return !hasMinus || (hasSelectedText() && selectedText().contains(QLatin1Char('-')));
    }
    if (c == sep) {
        if (m_decimals == 0 || t.contains(sep) || (caret == 0 && hasMinus))
            return false;
        if (caret == 0 && !t.startsWith(QLatin1Char('-'))) {
            setText(QStringLiteral("0") + sep);
            setCursorPosition(int(text().size()));
            return false;
        }
        return true;
    }
    // A digit.
    if (caret == 0 && !hasSelectedText() && hasMinus)
        return false;
    const qsizetype sepAt = t.indexOf(sep);
    if (sepAt >= 0 && caret > sepAt) {
        if (hasSelectedText())
            del();
        const qsizetype behind = text().size() - text().indexOf(sep) - 1;
        if (behind >= m_decimals)
            return false;
    }
    return true;
}

void TNumEdit::keyPressEvent(QKeyEvent* event) {
    const QString typed = event->text();
    // Control characters (backspace, Enter, Ctrl combinations) and navigation keys always pass.
    if (typed.isEmpty() || typed.front().unicode() < 0x20 || typed.front().unicode() == 0x7f ||
        (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    for (const QChar c : typed) {
        if (!acceptChar(c)) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TNumEdit::focusOutEvent(QFocusEvent* event) {
    rewrite();
    QLineEdit::focusOutEvent(event);
}

void TNumEdit::rewrite() {
    // A text that is no number stays as it is, so the dialog can mark it instead of silently zeroing it.
    double v = 0;
    if (!isValidNumber() || !parse(&v))
        return;
    setText(format(v));
}
