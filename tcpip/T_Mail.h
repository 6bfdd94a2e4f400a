#pragma once
// Shell: the real message model replaces this class.
#include "ip_misc/TStringList.h"
#include "tcpip/T_SMTP.h"

class T_MailNews {
public:
  virtual ~T_MailNews() = default;
  TStringList Header;
};

class T_Mail : public T_MailNews {
public:
  T_SMTP *SMTP = nullptr;
};
