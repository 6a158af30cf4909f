#include "mail/send_msg.h"

#include "base/error.h"
#include "base/text_form.h"

namespace corvane::mail {

void MailSender::SendMsg(const Value& MsgFrom, const Value& MsgFromName, const Value& MsgTo,
                         const Value& MsgSubject, const Value& msgBody) const {
  const PlainArg zero{0LL};
  // The unique_ptr releases the object whichever step fails.
  std::unique_ptr<MailMessage> message = component_.Create();
  if (!message) {
    throw Error(ErrorKind::kMail, errnum::kInvalidProcedureCall,
                "mail: the mail component gave no message object");
  }
  message->SetSevenBit(true);
  message->SetOpportunisticTls(true);
  message->SetFromAddress(ToText(MsgFrom, "MsgFrom"));
  message->SetFromName(ToText(MsgFromName, "MsgFromName"));
  message->AddRecipient(ToText(MsgTo, "MsgTo"), zero, zero);
  message->SetSubject(ToText(MsgSubject, "MsgSubject"));
  message->SetBody(ToText(msgBody, "msgBody"));
  message->Send(server_, zero);  // returns only for a message the server accepted
  if (accepted_ != nullptr) ++*accepted_;
  message.reset();
}

}  // namespace corvane::mail
