#pragma once
// Why a file could not be written, as the user reads it after a failed save
// or export: the reasons the user can act on, from the errno of the write.

#include <QString>

namespace WriteErrorMessages {

// The reason for `errorNumber`, or empty for one the user cannot act on.
QString describe(int errorNumber);
// `message` with the reason after it, or `message` alone when there is none.
QString withReason(const QString& message, int errorNumber);

} // namespace WriteErrorMessages
