// What the send loop does with each library error and dialog answer.
#include "http/send_rules.h"

#include <gtest/gtest.h>

namespace {

using kit_http::AfterDialog;

TEST(SendRules, ErrorsAndDialogAnswers) {
  struct Row {
    std::uint32_t error;
    bool endsAtOnce, certificate, dialog;
    AfterDialog onRetry, onZero, onCancel;
  };
  const AfterDialog R = AfterDialog::kResend, I = AfterDialog::kResendIgnoringRevocation, F = AfterDialog::kFinish;
  const Row rows[] = {
      {0, false, false, false, R, F, F},          // sent: the dialog only asks for a password
      {12002, false, false, false, R, F, F},      // time-out
      {12004, true, false, false, R, F, F},       // internal error
      {12007, true, false, false, R, F, F},       // name not resolved
      {12008, false, false, false, R, F, F},
      {12014, false, false, true, R, F, F},       // wrong password
      {12037, false, false, true, R, F, F},       // certificate date
      {12038, false, true, true, R, F, F},        // certificate name
      {12044, false, true, true, R, R, F},        // client certificate
      {12045, false, true, true, R, R, F},        // unknown authority
      {12055, false, true, true, R, R, F},        // combined certificate errors
      {12056, false, true, true, I, I, F},        // revocation unknown
      {12057, false, true, true, I, I, F},        // revocation failed
      {12169, false, true, false, R, F, F},
      {12170, false, false, false, R, F, F},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.error);
    EXPECT_EQ(r.endsAtOnce, kit_http::EndsSendAtOnce(r.error));
    EXPECT_EQ(r.certificate, kit_http::IsCertificateError(r.error));
    EXPECT_EQ(r.dialog, kit_http::NeedsDialog(r.error));
    EXPECT_EQ(r.onRetry, kit_http::DecideAfterDialog(r.error, 12032));
    EXPECT_EQ(r.onZero, kit_http::DecideAfterDialog(r.error, 0));
    EXPECT_EQ(r.onCancel, kit_http::DecideAfterDialog(r.error, 1223));
    // Without a dialog only an unknown revocation status is passed over.
    EXPECT_EQ(r.onZero == AfterDialog::kResendIgnoringRevocation,
              kit_http::DecideAfterDialog(r.error, kit_http::AnswerWithoutDialog(r.error)) != AfterDialog::kFinish);
  }
}

}  // namespace
