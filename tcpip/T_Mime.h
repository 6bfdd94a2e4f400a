#pragma once
// Shell: the real composer and parser replace this class.
#include "tcpip/T_Mail.h"

class T_Mime {
public:
  T_MailNews *Mail = nullptr;
};
