// What the HTTP send loop does with the outcome of one pass: which errors end
// it at once, which bring up the library's dialog, and what a dialog's answer
// means. Win32-free.
#pragma once

#include <cstdint>

namespace kit_http {

// Library error numbers the send loop tells apart (WinINet's values).
enum : std::uint32_t {
  kErrorCancelled = 1223,
  kErrorInternal = 12004,
  kErrorNameNotResolved = 12007,
  kErrorIncorrectPassword = 12014,
  kErrorRetryDialog = 12032,
  kErrorSecCertDateInvalid = 12037,
  kErrorSecCertCnInvalid = 12038,
  kErrorHttpToHttpsOnRedir = 12039,
  kErrorMixedSecurity = 12043,
  kErrorClientAuthCertNeeded = 12044,
  kErrorInvalidCa = 12045,
  kErrorSecCertErrors = 12055,
  kErrorSecCertNoRev = 12056,
  kErrorSecCertRevFailed = 12057,
};

// The send failed for good: internal error, invalid URL, unknown scheme,
// name not resolved. No dialog, no second pass.
bool EndsSendAtOnce(std::uint32_t error);

// A certificate problem as the log names it ("Invalid certificate").
bool IsCertificateError(std::uint32_t error);

// The error is one the library's dialog can settle (certificates, password,
// redirects between secure and plain): the dialog lock is taken around it.
bool NeedsDialog(std::uint32_t error);

enum class AfterDialog {
  kResend,                         // send the request again as it is
  kResendIgnoringRevocation,       // first ignore certificate revocation, then send again
  kFinish,                         // leave the loop: accepted on status 200, else cancelled
};

// What the dialog's answer means for the error it was shown for.
AfterDialog DecideAfterDialog(std::uint32_t error, std::uint32_t dialogResult);

// The error a send ends with once the loop is through: the library's error
// when the status is 200 (0 when there was none); the person's Cancel in the
// library's dialog as 1223; otherwise the library's own error (a timeout, a
// refused certificate) or, without one, the HTTP status as
// HTTP_E_STATUS_<status> (0x80190000 + status).
std::uint32_t FinalSendError(std::uint32_t error, std::uint32_t status, bool declinedInDialog);
constexpr std::uint32_t kHttpStatusErrorBase = 0x80190000u;

// The answer that stands in for the dialog where none may be shown: a
// revocation status that could not be learnt is passed over as the dialog's
// every answer would, anything else a person would have to accept is refused.
std::uint32_t AnswerWithoutDialog(std::uint32_t error);

}  // namespace kit_http
