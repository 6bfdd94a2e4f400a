#include "commands/SmtpFamily.h"

#include "commands/MechanismOperand.h"
#include "commands/SecureOperand.h"
#include "commands/ServerOperand.h"
#include "commands/TimeoutOperand.h"
#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "host/TJobWork.h"
#include "ip_misc/Convert.h"
#include "tcpip/MailAuth.h"
#include "tcpip/T_Mail.h"
#include "tcpip/T_Mime.h"
#include "tcpip/T_SMTP.h"

namespace {

// SEND of the message as it is composed when the job starts, recipients,
// headers and attachments included, on a copy of the family's client.
class SmtpJob final : public TJobWork {
public:
  explicit SmtpJob(Library &library)
      : Smtp(library.Smtp()), mail_(library.Mail()), mime_(library.OutgoingMime()) {
    mail_.SMTP = &Smtp;
    mime_.Mail = &mail_;
    Watch(Smtp, TDirection::Sent);
  }

  void Run() override {
    struct Close {
      T_SMTP &smtp;
      ~Close() { smtp.Logout(); }
    } close{Smtp};
    mime_.Send();
  }

  T_SMTP Smtp;

private:
  T_Mail mail_;
  T_Mime mime_;
};

} // namespace

std::unique_ptr<TJobWork> SmtpFamily::Job() {
  if (lib_.LookupNext(Commands) != CmdSEND) {
    lib_.SetError(ErrUnknownSubcommand);
    return nullptr;
  }
  auto job = std::make_unique<SmtpJob>(lib_);
  SetHostAndPort(job->Smtp, lib_.NextArgument(),
                 DefaultPort(job->Smtp, T_SMTP::DefaultPort, 465));
  return job;
}

void SmtpFamily::ListCommand(TStringList &list) {
  switch (lib_.LookupNext(ListOps)) {
  case OpCLEAR: list.clear(); return;
  case OpADD: list.push_back(lib_.NextArgument()); return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}

void SmtpFamily::Command() {
  T_Mail &mail = lib_.Mail();
  switch (lib_.LookupNext(Commands)) {
  case CmdRECIPIENTS: return ListCommand(mail.Recipients);
  case CmdCC: return ListCommand(mail.CC);
  case CmdBCC: return ListCommand(mail.BCC);
  case CmdMESSAGE: return ListCommand(mail.Body);
  case CmdHEADER: return ListCommand(mail.Header);
  case CmdATTACHMENT:
    switch (lib_.LookupNext(ListOps)) {
    case OpCLEAR: lib_.OutgoingMime().Clear(); return;
    case OpADD: lib_.OutgoingMime().AddFile(lib_.NextArgument()); return;
    default: return lib_.SetError(ErrUnknownSubcommand);
    }
  case CmdFROM: mail.From = lib_.NextArgument(); return;
  case CmdREPLY: mail.ReplyTo = lib_.NextArgument(); return;
  case CmdSUBJECT: mail.Subject = lib_.NextArgument(); return;
  case CmdDISCLOSE: mail.Disclose_Receipts = SwitchOn(lib_.NextArgument()); return;
  case CmdSEND:
    lib_.BeginProgress("SEND", TDirection::Sent, lib_.Smtp().Counts);
    SetHostAndPort(lib_.Smtp(), lib_.NextArgument(), DefaultPort(lib_.Smtp(), T_SMTP::DefaultPort, 465));
    lib_.OutgoingMime().Send();
    return;
  case CmdTIMEOUT: lib_.Smtp().TimeoutMs = TimeoutMilliseconds(lib_.NextArgument()); return;
  case CmdLOWSPEED: {
    const std::string rate = lib_.NextArgument();
    lib_.Smtp().LowSpeed = LowSpeedOperands(rate, lib_.NextArgument());
    return;
  }
  case CmdSECURE: lib_.Smtp().Security = SecurityMode(lib_.NextArgument()); return;
  case CmdUSERNAME: lib_.Smtp().UserName = lib_.NextArgument(); return;
  case CmdPASSWORD: lib_.Smtp().Password = lib_.NextArgument(); return;
  case CmdAUTH:
    if (const auto mechanism =
            MechanismOperand(lib_.NextArgument(),
                             {MechanismCramMd5, MechanismPlain, MechanismLogin, MechanismXOAuth2}))
      lib_.Smtp().Mechanism = *mechanism;
    else
      lib_.SetError(ErrUnknownSubcommand);
    return;
  default: lib_.SetError(ErrUnknownSubcommand);
  }
}
