#include "tcpip/T_Mail.h"

#include "ip_misc/MailText.h"
#include "tcpip/T_SMTP.h"

void T_Mail::Compose() {
  if (!SMTP || Recipients.empty() || From.empty())
    return;
  T_SMTP &smtp = *SMTP;
  // Whatever happens below, a failed send must not leave its lines or its
  // sender behind for the next message.
  struct Restore {
    T_Mail &mail;
    bool clearMailFrom;
    ~Restore() {
      mail.Composed.clear();
      // The copy the client sent is of no further use and may be large.
      TStringList().swap(mail.SMTP->MessageText);
      mail.SMTP->Base64Entries.clear();
      if (clearMailFrom)
        mail.SMTP->MailFrom.clear();
    }
  } restore{*this, smtp.MailFrom.empty()};
  if (restore.clearMailFrom)
    smtp.MailFrom = Sender.empty() ? From : Sender;

  if (Disclose_Receipts) {
    Composed.push_back("To: disclosed recipients list");
  } else {
    for (const std::string &line : Recipients)
      Composed.push_back(AddressHeader("To", line));
  }
  smtp.RcptList = Recipients;
  for (const std::string &line : CC) {
    Composed.push_back(AddressHeader("CC", line));
    smtp.RcptList.push_back(line);
  }
  smtp.RcptList.insert(smtp.RcptList.end(), BCC.begin(), BCC.end());
  const std::size_t bodySize = Body.size();
  T_MailNews::Compose();
  const std::size_t bodyStart = Composed.size() - bodySize;
  smtp.Base64Entries.clear();
  for (const auto &[line, data] : Base64Body)
    smtp.Base64Entries.emplace_back(bodyStart + line, data);
  // Composed is emptied after the send anyway; hand its lines over instead
  // of copying a message that may be tens of megabytes.
  smtp.MessageText = std::move(Composed);
  Composed.clear();
  smtp.Action();
}
