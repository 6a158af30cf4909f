// A mail component that passes every call on to a real one and calls the test back once each
// message's Send has returned normally: the moment at which a test changes the world (another
// client locks or deletes a row, the server goes away) between two messages of a pass.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "mail/mail_message.h"

namespace corvane::testing {

class SendHookComponent final : public mail::MailComponent {
 public:
  // `after_send(n, body)`: the n-th message (counted from 1 over all messages) with this body
  // was handed over.
  using Hook = std::function<void(int n, const std::string& body)>;

  SendHookComponent(mail::MailComponent& inner, Hook after_send)
      : inner_(inner), after_send_(std::move(after_send)) {}

  void set_hook(Hook after_send) { after_send_ = std::move(after_send); }

  std::unique_ptr<mail::MailMessage> Create() override {
    return std::make_unique<Message>(*this, inner_.Create());
  }

 private:
  class Message final : public mail::MailMessage {
   public:
    Message(SendHookComponent& owner, std::unique_ptr<mail::MailMessage> inner)
        : owner_(owner), inner_(std::move(inner)) {}
    void SetSevenBit(bool on) override { inner_->SetSevenBit(on); }
    void SetOpportunisticTls(bool on) override { inner_->SetOpportunisticTls(on); }
    void SetFromAddress(std::string_view a) override { inner_->SetFromAddress(a); }
    void SetFromName(std::string_view n) override { inner_->SetFromName(n); }
    void AddRecipient(std::string_view address, const mail::PlainArg& name,
                      const mail::PlainArg& kind) override {
      inner_->AddRecipient(address, name, kind);
    }
    void SetSubject(std::string_view s) override { inner_->SetSubject(s); }
    void SetBody(std::string_view b) override {
      inner_->SetBody(b);
      body_ = b;
    }
    long Send(std::string_view server, const mail::PlainArg& limit) override {
      const long reply = inner_->Send(server, limit);
      ++owner_.sends_;
      if (owner_.after_send_) owner_.after_send_(owner_.sends_, body_);
      return reply;
    }

   private:
    SendHookComponent& owner_;
    std::unique_ptr<mail::MailMessage> inner_;
    std::string body_;
  };

  mail::MailComponent& inner_;
  Hook after_send_;
  int sends_ = 0;
};

}  // namespace corvane::testing
