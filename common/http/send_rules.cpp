#include "http/send_rules.h"

namespace kit_http {

bool EndsSendAtOnce(std::uint32_t error) { return error >= kErrorInternal && error <= kErrorNameNotResolved; }

bool IsCertificateError(std::uint32_t error) { return error >= 12038 && error <= 12169; }

bool NeedsDialog(std::uint32_t error) {
  switch (error) {
    case kErrorSecCertDateInvalid:
    case kErrorSecCertCnInvalid:
    case kErrorHttpToHttpsOnRedir:
    case kErrorInvalidCa:
    case kErrorSecCertErrors:
    case kErrorSecCertNoRev:
    case kErrorSecCertRevFailed:
    case kErrorIncorrectPassword:
    case kErrorMixedSecurity:
    case kErrorClientAuthCertNeeded:
      return true;
    default:
      return false;
  }
}

AfterDialog DecideAfterDialog(std::uint32_t error, std::uint32_t dialogResult) {
  const bool revocation = error == kErrorSecCertNoRev || error == kErrorSecCertRevFailed;
  if (dialogResult == kErrorRetryDialog)
    return revocation ? AfterDialog::kResendIgnoringRevocation : AfterDialog::kResend;
  if (dialogResult == 0) {
    if (revocation) return AfterDialog::kResendIgnoringRevocation;
    if (error == kErrorClientAuthCertNeeded || error == kErrorInvalidCa || error == kErrorSecCertErrors)
      return AfterDialog::kResend;
  }
  return AfterDialog::kFinish;
}

std::uint32_t FinalSendError(std::uint32_t error, std::uint32_t status, bool declinedInDialog) {
  constexpr std::uint32_t kStatusOk = 200;
  if (status == kStatusOk) return error;
  if (declinedInDialog) return kErrorCancelled;
  if (error != 0) return error;
  return status != 0 ? kHttpStatusErrorBase + status : static_cast<std::uint32_t>(kErrorInternal);
}

std::uint32_t AnswerWithoutDialog(std::uint32_t error) {
  return error == kErrorSecCertNoRev || error == kErrorSecCertRevFailed ? 0u : static_cast<std::uint32_t>(kErrorCancelled);
}

}  // namespace kit_http
