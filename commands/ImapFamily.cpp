#include "commands/ImapFamily.h"

#include "commands/MechanismOperand.h"
#include "commands/MessageParts.h"
#include "commands/SecureOperand.h"
#include "commands/ServerOperand.h"
#include "commands/TimeoutOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "host/TJobWork.h"
#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/MailText.h"
#include "platform/Files.h"
#include "tcpip/MailAuth.h"
#include "tcpip/T_Imap.h"
#include "tcpip/T_Mime.h"

namespace {

// A UID: a number from 1 to 4294967295.
std::uint32_t UidOperand(const std::string &operand) {
  const std::int64_t uid = StrToInt64(operand);
  if (uid < 1 || uid > 0xFFFFFFFFll)
    throw EConvertError("'" + operand + "' is no UID (1 to 4294967295)");
  return static_cast<std::uint32_t>(uid);
}

// The seconds of IDLE: blank for the longest wait, 0 for none.
int IdleMilliseconds(const std::string &operand) {
  if (Trim(operand).empty())
    return T_Imap::MaxIdleMs;
  const int ms = TimeoutMilliseconds(operand);
  return ms == NoTimeout ? 0 : ms;
}

// The entry at the index operand of a list; null past its ends.
template <typename List> const typename List::value_type *At(Library &lib, const List &list) {
  const std::int32_t index = StrToInt(lib.NextArgument());
  if (index < 0 || static_cast<std::size_t>(index) >= list.size())
    return nullptr;
  return &list[static_cast<std::size_t>(index)];
}

// GETMAIL, GETHEADERS or IDLE on a logon of its own: a copy of the
// family's client logs on to the server of the script's logon, with its
// user, password and mechanism, selects the folder the script has selected,
// and logs out at the end.
class ImapJob final : public TJobWork {
public:
  ImapJob(const T_Imap &client, int command) : Imap(client), command_(command) {
    Watch(Imap, TDirection::Received);
  }

  void Run() override {
    struct Logoff {
      T_Imap &imap;
      ~Logoff() {
        // What was retrieved stands whatever the server says to LOGOUT.
        try {
          imap.Logout();
        } catch (...) {
        }
      }
    } logoff{Imap};
    const std::string folder = Imap.Selected;
    Imap.Login();
    Imap.Select(folder);
    switch (command_) {
    case ImapFamily::CmdGETMAIL:
      // Split here as it comes, not on the host's thread when it is taken.
      MessageParts::Retrieve(lines_, parts_, [this](TLineText &lines, const TLinesArrived &arrived) {
        Imap.FetchMessage(Uid, lines, arrived);
      });
      return;
    case ImapFamily::CmdGETHEADERS: return Imap.FetchSummaries(Operand);
    case ImapFamily::CmdIDLE: return Imap.Idle(IdleMs);
    }
  }
  void Take(Library &library) override {
    switch (command_) {
    case ImapFamily::CmdGETMAIL:
      library.ImapMime().Boundary = std::move(parts_.Boundary);
      library.ImapMime().Attachments = std::move(parts_.Attachments);
      library.ImapMessage() = std::move(lines_);
      return;
    case ImapFamily::CmdGETHEADERS: library.Imap().Summaries = std::move(Imap.Summaries); return;
    case ImapFamily::CmdIDLE: library.Imap().Changed = Imap.Changed; return;
    }
  }

  T_Imap Imap;
  std::uint32_t Uid = 0;
  std::string Operand;
  int IdleMs = 0;

private:
  int command_;
  TLineText lines_;
  T_Mime parts_;
};

} // namespace

std::unique_ptr<TJobWork> ImapFamily::Job() {
  const int command = lib_.LookupNext(Commands);
  if (command != CmdGETMAIL && command != CmdGETHEADERS && command != CmdIDLE) {
    lib_.SetError(ErrUnknownSubcommand);
    return nullptr;
  }
  const T_Imap &imap = lib_.Imap();
  auto job = std::make_unique<ImapJob>(imap, command);
  switch (command) {
  case CmdGETMAIL:
    job->Uid = UidOperand(lib_.NextArgument());
    imap.RequireSelected();
    break;
  case CmdGETHEADERS:
    job->Operand = lib_.NextArgument();
    imap.CheckSummaries(job->Operand);
    break;
  default:
    job->IdleMs = IdleMilliseconds(lib_.NextArgument());
    imap.RequireSelected();
  }
  return job;
}

void ImapFamily::Command() {
  T_Imap &imap = lib_.Imap();
  switch (lib_.LookupNext(Commands)) {
  case CmdUSERNAME: imap.UserName = lib_.NextArgument(); return;
  case CmdPASSWORD: imap.Password = lib_.NextArgument(); return;
  case CmdAUTH:
    if (const auto mechanism = MechanismOperand(lib_.NextArgument(),
                                                {MechanismLogin, MechanismPlain, MechanismXOAuth2}))
      imap.Mechanism = *mechanism == MechanismLogin ? std::string() : *mechanism;
    else
      lib_.SetError(ErrUnknownSubcommand);
    return;
  case CmdSECURE: imap.Security = SecurityMode(lib_.NextArgument()); return;
  case CmdTIMEOUT: imap.TimeoutMs = TimeoutMilliseconds(lib_.NextArgument()); return;
  case CmdLOWSPEED: {
    const std::string rate = lib_.NextArgument();
    imap.LowSpeed = LowSpeedOperands(rate, lib_.NextArgument());
    return;
  }
  case CmdLOGON:
    SetHostAndPort(imap, lib_.NextArgument(),
                   DefaultPort(imap, T_Imap::DefaultPort, T_Imap::SecurePort));
    imap.Login();
    return;
  case CmdLOGOFF: imap.Logout(); return;
  case CmdSELECT: imap.Select(lib_.NextArgument()); return;
  case CmdSEARCH: imap.Search(lib_.NextArgument()); return;
  case CmdGETHEADERS: imap.FetchSummaries(lib_.NextArgument()); return;
  case CmdGETMAIL: {
    lib_.BeginProgress("GETMAIL", TDirection::Received, imap.Counts);
    const std::uint32_t uid = UidOperand(lib_.NextArgument());
    MessageParts::Retrieve(lib_.ImapMessage(), lib_.ImapMime(),
                           [&](TLineText &lines, const TLinesArrived &arrived) {
                             imap.FetchMessage(uid, lines, arrived);
                           });
    return;
  }
  case CmdSAVEATTACHMENT:
    return MessageParts::SaveAttachment(lib_, lib_.ImapMime(), lib_.ImapMessage());
  case CmdFLAG: {
    const std::uint32_t uid = UidOperand(lib_.NextArgument());
    imap.Store(uid, lib_.NextArgument());
    return;
  }
  case CmdMOVE: {
    const std::uint32_t uid = UidOperand(lib_.NextArgument());
    imap.Move(uid, lib_.NextArgument());
    return;
  }
  case CmdDELMAIL: imap.Delete(UidOperand(lib_.NextArgument())); return;
  case CmdAPPEND: {
    const std::string folder = lib_.NextArgument();
    std::string message = platform::ReadWholeFile(lib_.NextArgument());
    imap.Append(folder, std::move(message), lib_.NextArgument());
    return;
  }
  case CmdMAKEFOLDER: imap.CreateFolder(lib_.NextArgument()); return;
  case CmdDELFOLDER: imap.DeleteFolder(lib_.NextArgument()); return;
  case CmdIDLE: imap.Idle(IdleMilliseconds(lib_.NextArgument())); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void ImapFamily::Function(std::string &result) {
  const T_Imap &imap = lib_.Imap();
  const int fn = lib_.LookupNext(Functions);
  switch (fn) {
  case FnFOLDER:
  case FnSPECIALUSE:
    if (const TImapFolder *f = At(lib_, imap.Folders))
      result = fn == FnFOLDER ? f->Name : f->SpecialUse;
    return;
  case FnSTATUS:
    if (!imap.Selected.empty())
      result = IntToStr(imap.Exists) + " " + IntToStr(imap.UidValidity) + " " +
               IntToStr(imap.UidNext) + " " + IntToStr(imap.Unseen);
    return;
  case FnRESULT:
    if (const std::uint32_t *uid = At(lib_, imap.SearchResults))
      result = IntToStr(*uid);
    return;
  case FnUID:
  case FnFROM:
  case FnSUBJECT:
  case FnDATE:
  case FnFLAGS:
  case FnSIZE: {
    const TImapSummary *s = At(lib_, imap.Summaries);
    if (!s)
      return;
    result = fn == FnUID       ? IntToStr(s->Uid)
             : fn == FnFROM    ? DecodeWords(s->From)
             : fn == FnSUBJECT ? DecodeWords(s->Subject)
             : fn == FnDATE    ? s->Date
             : fn == FnFLAGS   ? s->Flags
                               : IntToStr(s->Size);
    return;
  }
  case FnMAIL: return MessageParts::Line(lib_, lib_.ImapMessage(), result);
  case FnATTACHMENT: return MessageParts::Attachment(lib_, lib_.ImapMime(), result);
  case FnCHANGED: result = imap.Changed ? "1" : "0"; return;
  case FnCAPABILITY:
    for (const std::string &c : imap.Capabilities)
      result += (result.empty() ? "" : " ") + c;
    return;
  default: lib_.SetError(ErrUnknownSubfunction);
  }
}
