// SendMsg: the system's one way of sending an e-mail, one message to one recipient.
#pragma once

#include <atomic>
#include <string>

#include "base/value.h"
#include "mail/mail_message.h"

namespace corvane::mail {

class MailSender {
 public:
  // `server` is the run's gEmailServer; it is read at each send.
  MailSender(MailComponent& component, const std::string& server)
      : component_(component), server_(server) {}

  // Creates one message object, sets both Boolean settings true, sender address, sender name,
  // one recipient, subject and body (each parameter converted to text just before its call; a
  // Null fails at its own step), sends it through the server and releases it on every path.
  // The value the send gives back is not read: a refused message is an Error, not a value.
  void SendMsg(const Value& MsgFrom, const Value& MsgFromName, const Value& MsgTo,
               const Value& MsgSubject, const Value& msgBody) const;

  // From now on each message the server accepted is counted in `accepted`, which any thread
  // may read; null: not counted.
  void CountAcceptedIn(std::atomic<long>* accepted) { accepted_ = accepted; }

 private:
  MailComponent& component_;
  const std::string& server_;
  std::atomic<long>* accepted_ = nullptr;
};

}  // namespace corvane::mail
