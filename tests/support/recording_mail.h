// A mail component that records every call made on its message objects, in order, and can be
// told to fail one of them. Tests of SendMsg and of the alert passes put it where the real
// component goes and read back either the exact calls or the messages they amount to.
#pragma once

#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "mail/mail_message.h"

namespace corvane::testing {

struct MailCall {
  int object = 0;                 // 1 for the first object created, 2 for the next, ...
  std::string operation;          // Create, SetSevenBit, SetOpportunisticTls, SetFromAddress,
                                  // SetFromName, AddRecipient, SetSubject, SetBody, Send, Release
  std::vector<std::string> args;  // texts as given; Booleans "true"/"false"; a PlainArg as
                                  // "int:0", "bool:false", "double:0.5" or "text:..."
  bool operator==(const MailCall&) const = default;
};

inline void PrintTo(const MailCall& call, std::ostream* out) {
  *out << "{" << call.object << ", " << call.operation;
  for (const std::string& arg : call.args) *out << ", \"" << arg << "\"";
  *out << "}";
}

// What one message object was given, gathered from its calls.
struct RecordedMessage {
  std::string from;
  std::string from_name;
  std::vector<std::string> to;  // every recipient address, in order
  std::string subject;
  std::string body;
  std::vector<std::string> sent_through;  // the server of each Send
  bool released = false;
};

class RecordingMailComponent final : public mail::MailComponent {
 public:
  // The `nth` call (counting from 1 over all objects) of `operation` fails with an Error of
  // kind kMail after being recorded.
  void FailAt(std::string_view operation, int nth = 1) {
    fail_operation_ = operation;
    fail_nth_ = nth;
  }
  // What Send gives back (the real component: the server's final reply code).
  void SetSendResult(long result) { send_result_ = result; }

  const std::vector<MailCall>& calls() const { return calls_; }
  int live_objects() const { return live_; }

  std::vector<RecordedMessage> Messages() const {
    std::vector<RecordedMessage> messages;
    for (const MailCall& call : calls_) {
      if (call.operation == "Create") messages.emplace_back();
      if (call.object < 1 || static_cast<std::size_t>(call.object) > messages.size()) continue;
      RecordedMessage& m = messages[static_cast<std::size_t>(call.object) - 1];
      const std::string first = call.args.empty() ? std::string() : call.args[0];
      if (call.operation == "SetFromAddress")
        m.from = first;
      else if (call.operation == "SetFromName")
        m.from_name = first;
      else if (call.operation == "AddRecipient")
        m.to.push_back(first);
      else if (call.operation == "SetSubject")
        m.subject = first;
      else if (call.operation == "SetBody")
        m.body = first;
      else if (call.operation == "Send")
        m.sent_through.push_back(first);
      else if (call.operation == "Release")
        m.released = true;
    }
    return messages;
  }

  std::unique_ptr<mail::MailMessage> Create() override {
    const int object = ++created_;
    Record(object, "Create", {});
    return std::make_unique<Message>(*this, object);
  }

 private:
  class Message final : public mail::MailMessage {
   public:
    Message(RecordingMailComponent& owner, int object) : owner_(owner), object_(object) {
      ++owner_.live_;
    }
    ~Message() override {
      --owner_.live_;
      owner_.calls_.push_back({object_, "Release", {}});
    }
    void SetSevenBit(bool on) override { Call("SetSevenBit", {Bool(on)}); }
    void SetOpportunisticTls(bool on) override { Call("SetOpportunisticTls", {Bool(on)}); }
    void SetFromAddress(std::string_view a) override { Call("SetFromAddress", {std::string(a)}); }
    void SetFromName(std::string_view n) override { Call("SetFromName", {std::string(n)}); }
    void AddRecipient(std::string_view address, const mail::PlainArg& name,
                      const mail::PlainArg& kind) override {
      Call("AddRecipient", {std::string(address), Plain(name), Plain(kind)});
    }
    void SetSubject(std::string_view s) override { Call("SetSubject", {std::string(s)}); }
    void SetBody(std::string_view b) override { Call("SetBody", {std::string(b)}); }
    long Send(std::string_view server, const mail::PlainArg& limit) override {
      Call("Send", {std::string(server), Plain(limit)});
      return owner_.send_result_;
    }

   private:
    static std::string Bool(bool b) { return b ? "true" : "false"; }
    static std::string Plain(const mail::PlainArg& arg) {
      if (const auto* b = std::get_if<bool>(&arg)) return "bool:" + Bool(*b);
      if (const auto* i = std::get_if<long long>(&arg)) return "int:" + std::to_string(*i);
      if (const auto* d = std::get_if<double>(&arg)) {
        std::ostringstream text;
        text << *d;
        return "double:" + text.str();
      }
      return "text:" + std::get<std::string>(arg);
    }
    void Call(const char* operation, std::vector<std::string> args) {
      owner_.Record(object_, operation, std::move(args));
    }

    RecordingMailComponent& owner_;
    int object_;
  };

  void Record(int object, std::string_view operation, std::vector<std::string> args) {
    calls_.push_back({object, std::string(operation), std::move(args)});
    if (operation == fail_operation_ && ++fail_seen_ == fail_nth_) {
      throw Error(ErrorKind::kMail, 1, "recording mail component: " + fail_operation_ + " fails");
    }
  }

  std::vector<MailCall> calls_;
  int created_ = 0;
  int live_ = 0;
  long send_result_ = 250;
  std::string fail_operation_;
  int fail_nth_ = 0;
  int fail_seen_ = 0;
};

}  // namespace corvane::testing
