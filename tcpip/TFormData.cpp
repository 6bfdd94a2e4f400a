#include "tcpip/TFormData.h"

#include "ip_misc/Errors.h"
#include "platform/FileStreams.h"

#include <random>

namespace {

// A name inside its quotes as browsers send it: the quote and the line
// breaks, which would end it early, percent-encoded; every other byte as is.
std::string Quoted(const std::string &name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"')
      out += "%22";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else
      out += c;
  }
  return out + "\"";
}

std::string FileNameOf(const std::string &path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Random enough that no content holds it by chance.
std::string NewBoundary() {
  static const char hex[] = "0123456789abcdef";
  std::random_device random;
  std::string boundary = "------------------------scriptnet";
  for (int i = 0; i < 24; ++i)
    boundary += hex[random() & 15];
  return boundary;
}

} // namespace

void TFormData::AddField(std::string name, std::string value) {
  parts_.push_back({std::move(name), std::move(value), false, {}});
}

void TFormData::AddFile(std::string name, const std::string &path, std::string type) {
  if (type.find_first_of("\r\n") != std::string::npos)
    throw EConvertError("Line break in the type of a form file");
  platform::FileReader check(path);
  parts_.push_back({std::move(name), path, true,
                    type.empty() ? "application/octet-stream" : std::move(type)});
}

TRequestBody TFormData::Compose(std::string &contentType) const {
  const std::string boundary = NewBoundary();
  contentType = "multipart/form-data; boundary=" + boundary;
  TRequestBody body;
  for (const TPart &part : parts_) {
    std::string head = "--" + boundary + "\r\nContent-Disposition: form-data; name=" + Quoted(part.Name);
    if (part.File)
      head += "; filename=" + Quoted(FileNameOf(part.Value)) + "\r\nContent-Type: " + part.Type;
    body.AddText(head + "\r\n\r\n");
    if (part.File)
      body.AddFile(part.Value);
    else
      body.AddText(part.Value);
    body.AddText("\r\n");
  }
  body.AddText("--" + boundary + "--\r\n");
  return body;
}
