#pragma once

// The one table of user-visible texts of the table layer, filled by position: each "%s"
// takes the next argument as text, each "%g" the next argument as a number in general
// format (up to 15 significant digits, regional decimal separator, no grouping).

#include <QString>
#include <QVariantList>

namespace lv26 {

enum class Message {
    FieldRequired,        // "Field '%s' must have a value" (field name)
    InvalidIntegerValue,  // "'%s' is not a valid integer value for field '%s'" (text, field name)
    InvalidFloatValue,    // "'%s' is not a valid floating point value for field '%s'"
    FieldRangeError,      // "%g is not a valid value for field '%s'. The allowed range is %g to %g"
    InvalidFieldValue,    // "Invalid value for field '%s'" (field name)
    DataSetReadOnly,      // "Cannot modify a read-only dataset"
    DataSetEmpty,         // "Cannot perform this operation on an empty dataset"
    DataSetClosed,        // "Cannot perform this operation on a closed dataset"
    NotEditing,           // "Dataset not in edit or insert mode"
    FieldReadOnly,        // "Field '%s' cannot be modified" (field name)
    NoIndexForFields,     // "'%s' has no index for fields '%s'" (table component, field list)
    FieldNotFound,        // "%s: Field '%s' not found" (table component, field name)
    FieldTypeMismatch,    // "Field '%s' is not of the expected type" (field name)
    VariantConversion,    // "Could not convert variant of type (%s) into type (%s)"
    DeleteRecordQuestion, // "Delete record?" (navigator and grid confirmation text)
    ConfirmCaption,       // "Confirm" (caption of that confirmation box)
    PrintJobRefused,      // "Printer %s did not accept the print job: %s" (printer, reason)
};

// The raw text of `id`, with its placeholders.
QString messageText(Message id);

// `format` with its "%s" and "%g" placeholders replaced in order by `args`; a placeholder
// without an argument is left as is, surplus arguments are ignored; "%%" gives "%".
QString formatMessage(const QString& format, const QVariantList& args);

// The text of `id` filled with `args` (see formatMessage()).
QString msg(Message id, const QVariantList& args = {});

// Formats `value` as "%g" does in messages: 40000 -> "40000", -2147483648 -> "-2147483648",
// 12.5 -> "12,5" under a comma-separator locale. Uses the default QLocale.
QString formatG(double value);

// Throws EDatabaseError carrying msg(id, args).
[[noreturn]] void databaseError(Message id, const QVariantList& args = {});

} // namespace lv26
