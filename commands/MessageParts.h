#pragma once
// What the mail families that retrieve messages (POP3, IMAP) give of the
// last message they retrieved: its lines (the MAIL function), its parts
// (ATTACHMENT) and a part saved to a file (SAVEATTACHMENT). Each family
// keeps its own message; the operands are read here, in one way for both.
#include "host/KeywordLookup.h"
#include "ip_misc/TLineText.h"

#include <functional>

#include <string>
#include <string_view>

class Library;
class T_Mime;

class MessageParts {
public:
  static constexpr std::string_view AttachmentItems = "|COUNT|DISPOSITION|KIND|FILENAME|";
  static constexpr int AttachmentCOUNT = KeywordPosition(AttachmentItems, "COUNT");
  static constexpr int AttachmentDISPOSITION = KeywordPosition(AttachmentItems, "DISPOSITION");
  static constexpr int AttachmentKIND = KeywordPosition(AttachmentItems, "KIND");
  static constexpr int AttachmentFILENAME = KeywordPosition(AttachmentItems, "FILENAME");

  // Operands index, file: the decoded bytes of a base64 part, else its
  // lines each followed by CR LF; message is the text the parts came from.
  // Raises EListIndexError when the index names no part, EFileError when
  // the file cannot be written.
  static void SaveAttachment(Library &lib, const T_Mime &mime, const TLineText &message);
  // Operands item [, index]: COUNT, DISPOSITION, KIND or FILENAME of a part.
  static void Attachment(Library &lib, const T_Mime &mime, std::string &result);
  // Operand index: the message's line there, a single CR past the end.
  static void Line(Library &lib, const TLineText &lines, std::string &result);
  // A message retrieved by fetch into the lines it is given, split into
  // parts as its lines come (a message may be tens of megabytes); message
  // and parts take the place of the last message's only once all has come.
  // Base64 parts stay encoded in the message until one is saved, so the
  // message is held once, not once more decoded.
  using TFetch = std::function<void(TLineText &lines, const TLinesArrived &arrived)>;
  static void Retrieve(TLineText &message, T_Mime &parts, const TFetch &fetch);
};
