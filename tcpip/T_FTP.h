#pragma once
// Shell: the real client replaces this class.
class T_FTP {
public:
  virtual ~T_FTP() = default;
};
