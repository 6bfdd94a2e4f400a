#pragma once
// A form sent as multipart/form-data (RFC 7578): named fields and files, the
// files streamed from disk when the form is sent.
#include "tcpip/TRequestBody.h"

#include <string>
#include <vector>

class TFormData {
public:
  void AddField(std::string name, std::string value);
  // A file under name, sent with its own file name (the path's last part)
  // and type (application/octet-stream when empty). Raises EFileError when
  // the file cannot be read, EConvertError for a type with a line break.
  void AddFile(std::string name, const std::string &path, std::string type);
  void Clear() { parts_.clear(); }
  bool IsSet() const { return !parts_.empty(); }
  // The body of the form, with a boundary of its own, and the content type
  // that names the boundary.
  TRequestBody Compose(std::string &contentType) const;

private:
  struct TPart {
    std::string Name;
    std::string Value; // the field's value, or the file's path
    bool File = false;
    std::string Type;
  };
  std::vector<TPart> parts_;
};
