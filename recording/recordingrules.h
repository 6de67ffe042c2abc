#pragma once

#include <QChar>
#include <QString>

#include <array>

/// The small rules of recording that the window's handlers share: the sampling interval's
/// text, the key that the repeat filter compares, which keys the interval box takes, and
/// the record limits offered in the Record menu.
class RecordingRules {
public:
    struct LimitItem {
        const char *objectName;
        const char *caption;
        qint32 limit;
    };

    static constexpr qint32 kStartLimit = 10000;

    /// The number in a numeric edit's text: empty, "+" and "-" (the first key of a signed
    /// number) count as 0; anything else must be a decimal integer alone, or
    /// std::runtime_error says it is not.
    static qint32 numberFromEditText(const QString &text);

    /// The interval box's text as whole seconds. Empty, "+" and "-" count as 0; anything else
    /// must be a decimal integer of 0 or more, or std::runtime_error says what is wrong. A
    /// negative interval would hold the countdown below 0 and stop recording for good.
    static qint32 intervalFromText(const QString &text);

    /// What makes two readings the same for the repeat filter.
    static QString recordKey(const QString &valueText, const QString &acDcText,
                             const QString &unitText, const QString &autoText);

    /// Whether a typed character is kept by the interval box: digits and backspace.
    static bool isIntervalKey(QChar typed);
    /// Whether a typed character is kept by the alarm-limit boxes: digits, signs, backspace.
    static bool isLimitKey(QChar typed);

    /// The six limit items of the Record menu, in menu order.
    static const std::array<LimitItem, 6> &limitItems();
};
