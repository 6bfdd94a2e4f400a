#include "tcpip/T_Attachment.h"

#include "ip_misc/MailText.h"

void T_Attachment::SetLines(const TStringList &lines) {
  Lines = lines;
  std::string text;
  std::size_t size = 0;
  for (const std::string &line : lines)
    size += line.size() + 2;
  text.reserve(size);
  for (const std::string &line : lines) {
    text += line;
    text += "\r\n";
  }
  Data.Assign(std::move(text));
}

void T_Attachment::SetData(const TMemoryStream &stream) {
  Lines.clear();
  Data.Assign(stream.Bytes());
}

std::string T_Attachment::FileName() const {
  std::string name = ParamText(Disposition, "filename");
  if (name.empty())
    name = ParamText(ContentType, "name");
  return SafeFileName(name);
}
