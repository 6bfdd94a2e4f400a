#include "commands/Pop3Family.h"

#include "commands/MechanismOperand.h"
#include "commands/MessageParts.h"
#include "commands/SecureOperand.h"
#include "commands/ServerOperand.h"
#include "commands/TimeoutOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "host/TJobWork.h"
#include "ip_misc/Convert.h"
#include "ip_misc/MailText.h"
#include "tcpip/MailAuth.h"
#include "tcpip/T_Mime.h"
#include "tcpip/T_Pop3.h"

namespace {

// GETMAIL or GETHEADERS on a logon of its own: a copy of the family's
// client logs on to the server of its last logon, with its user, password
// and mechanism, and ends with QUIT.
class Pop3Job final : public TJobWork {
public:
  Pop3Job(const T_Pop3 &client, Pop3Family &family, bool getMail)
      : Pop(client), family_(family), getMail_(getMail) {
    Watch(Pop, TDirection::Received);
  }

  void Run() override {
    struct Logoff {
      T_Pop3 &pop;
      ~Logoff() {
        // What was retrieved stands whatever the server says to QUIT.
        try {
          pop.Logout();
        } catch (...) {
        }
      }
    } logoff{Pop};
    if (getMail_) {
      // Split here as it comes, not on the host's thread when it is taken.
      MessageParts::Retrieve(lines_, parts_, [this](TLineText &lines, const TLinesArrived &arrived) {
        Pop.GetMailText(Number, lines, arrived);
      });
      return;
    }
    Pop.Login();
    Pop.GetHeaders();
    // UIDL answers from the listing once it is taken: its ids come along.
    if (!Pop.MessageList.empty())
      Pop.UniqueId(0);
    listing_ = Pop.MessageList;
    headers_ = std::move(Pop.MailLines);
  }
  void Take(Library &library) override {
    if (getMail_) {
      library.IncomingMime().Boundary = std::move(parts_.Boundary);
      library.IncomingMime().Attachments = std::move(parts_.Attachments);
      library.Pop3Messages() = std::move(lines_);
      return;
    }
    family_.KeepHeaders(headers_, listing_);
    library.Pop3().AdoptListing(std::move(listing_));
  }

  T_Pop3 Pop;
  // GETMAIL's message number.
  std::int32_t Number = 0;

private:
  Pop3Family &family_;
  bool getMail_;
  TLineText lines_;
  T_Mime parts_;
  std::vector<t_reply> listing_;
  TStringList headers_;
};

} // namespace

void Pop3Family::Command() {
  T_Pop3 &pop = lib_.Pop3();
  switch (lib_.LookupNext(Commands)) {
  case CmdUSERNAME: pop.UserName = lib_.NextArgument(); return;
  case CmdPASSWORD: pop.Password = lib_.NextArgument(); return;
  case CmdLOGON:
    SetHostAndPort(pop, lib_.NextArgument(), DefaultPort(pop, T_Pop3::DefaultPort, 995));
    pop.Login();
    return;
  case CmdLOGOFF: pop.Logout(); return;
  case CmdGETHEADERS:
    pop.GetHeaders();
    KeepHeaders(pop.MailLines, pop.MessageList);
    return;
  case CmdGETMAIL: {
    lib_.BeginProgress("GETMAIL", TDirection::Received, pop.Counts);
    const std::int32_t n = StrToInt(lib_.NextArgument());
    MessageParts::Retrieve(lib_.Pop3Messages(), lib_.IncomingMime(),
                           [&](TLineText &lines, const TLinesArrived &arrived) {
                             pop.GetMailText(n, lines, arrived);
                           });
    return;
  }
  case CmdDELMAIL: pop.DeleteMail(StrToInt(lib_.NextArgument())); return;
  case CmdSAVEATTACHMENT:
    return MessageParts::SaveAttachment(lib_, lib_.IncomingMime(), lib_.Pop3Messages());
  case CmdTIMEOUT: pop.TimeoutMs = TimeoutMilliseconds(lib_.NextArgument()); return;
  case CmdLOWSPEED: {
    const std::string rate = lib_.NextArgument();
    pop.LowSpeed = LowSpeedOperands(rate, lib_.NextArgument());
    return;
  }
  case CmdSECURE: pop.Security = SecurityMode(lib_.NextArgument()); return;
  case CmdAUTH:
    if (const auto mechanism =
            MechanismOperand(lib_.NextArgument(), {"APOP", MechanismPlain, MechanismXOAuth2}))
      pop.Mechanism = *mechanism;
    else
      lib_.SetError(ErrUnknownSubcommand);
    return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void Pop3Family::KeepHeaders(const TStringList &lines, const std::vector<t_reply> &listing) {
  lib_.Pop3Headers() = lines;
  senders_.clear();
  for (const t_reply &e : listing)
    senders_.emplace_back(e.From, e.Subject);
}

std::unique_ptr<TJobWork> Pop3Family::Job() {
  const int command = lib_.LookupNext(Commands);
  if (command != CmdGETMAIL && command != CmdGETHEADERS) {
    lib_.SetError(ErrUnknownSubcommand);
    return nullptr;
  }
  auto job = std::make_unique<Pop3Job>(lib_.Pop3(), *this, command == CmdGETMAIL);
  if (command == CmdGETMAIL)
    job->Number = StrToInt(lib_.NextArgument());
  return job;
}

void Pop3Family::Function(std::string &result) {
  const int fn = lib_.LookupNext(Functions);
  switch (fn) {
  case FnHEADER: {
    const std::int32_t index = StrToInt(lib_.NextArgument());
    const TStringList &headers = lib_.Pop3Headers();
    if (index >= 0 && static_cast<std::size_t>(index) < headers.size())
      result = headers[static_cast<std::size_t>(index)];
    return;
  }
  case FnMAIL: return MessageParts::Line(lib_, lib_.Pop3Messages(), result);
  case FnATTACHMENT: return MessageParts::Attachment(lib_, lib_.IncomingMime(), result);
  case FnFROM:
  case FnSUBJECT: {
    const std::int32_t index = StrToInt(lib_.NextArgument());
    if (index >= 0 && static_cast<std::size_t>(index) < senders_.size()) {
      const auto &[from, subject] = senders_[static_cast<std::size_t>(index)];
      result = DecodeWords(fn == FnFROM ? from : subject);
    }
    return;
  }
  case FnUIDL: {
    const std::int32_t index = StrToInt(lib_.NextArgument());
    if (index >= 0)
      result = lib_.Pop3().UniqueId(static_cast<std::size_t>(index));
    return;
  }
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}
