#pragma once
// An outgoing message with its recipients (To, CC, BCC) and the SMTP client
// that sends it.
#include "ip_misc/TStringList.h"
#include "tcpip/T_MailNews.h"

class T_SMTP;

class T_Mail : public T_MailNews {
public:
  // Not owned; none at creation.
  T_SMTP *SMTP = nullptr;
  // To recipients; one line may hold several addresses.
  TStringList Recipients;
  TStringList CC;
  // Blind copies: envelope recipients only, never in the text.
  TStringList BCC;
  // True: the header has the one line "To: disclosed recipients list" in
  // place of the To lines.
  bool Disclose_Receipts = false;

  // Composes the message and sends it through SMTP. Does nothing when there
  // is no client, no recipient or no From. Whether the send succeeds or
  // raises (the failures of T_SMTP::Action), Composed is empty afterwards and
  // the client's MailFrom is as it was before.
  void Compose() override;
};
