#include "commands/MessageParts.h"

#include "host/ErrorCodes.h"
#include "host/Library.h"
#include "ip_misc/Convert.h"
#include "ip_misc/Errors.h"
#include "ip_misc/TLineText.h"
#include "ip_misc/ip_misc.h"
#include "platform/FileStreams.h"
#include "platform/Files.h"
#include "tcpip/T_Mime.h"

#include <algorithm>

namespace {

// The part at index; a clear failure when there is none.
const T_Attachment &AttachmentAt(const T_Mime &mime, std::int32_t index) {
  if (const T_Attachment *a = mime.GetAttachment(index))
    return *a;
  throw EListIndexError("No attachment at index " + IntToStr(index) + " (the message has " +
                        IntToStr(mime.Count()) + ")");
}

} // namespace

void MessageParts::SaveAttachment(Library &lib, const T_Mime &mime, const TLineText &message) {
  const T_Attachment &a = AttachmentAt(mime, StrToInt(lib.NextArgument()));
  const std::string fileName = lib.NextArgument();
  if (a.Encoded) {
    if (a.Encoded->Last > message.Count() || a.Encoded->First > a.Encoded->Last)
      throw EListIndexError("The attachment's lines are no longer held");
    // Decoded a piece at a time into the file: a large part never stands
    // decoded in memory as a whole.
    constexpr std::size_t PieceLines = 4096;
    platform::FileWriter file(fileName);
    TBase64LineDecoder decoder;
    std::string piece;
    for (std::size_t first = a.Encoded->First; first < a.Encoded->Last; first += PieceLines) {
      piece.clear();
      decoder.Decode(message, first, std::min(first + PieceLines, a.Encoded->Last), piece);
      file.Write(piece.data(), piece.size());
    }
    file.Commit();
    return;
  }
  if (a.Encoding == T_Attachment::EncodingBase64) {
    platform::WriteWholeFile(fileName, a.Data.Bytes());
    return;
  }
  std::string text;
  for (const std::string &line : a.Lines) {
    text += line;
    text += "\r\n";
  }
  platform::WriteWholeFile(fileName, text);
}

void MessageParts::Attachment(Library &lib, const T_Mime &mime, std::string &result) {
  switch (lib.LookupNext(AttachmentItems)) {
  case AttachmentCOUNT: result = IntToStr(mime.Count()); return;
  case AttachmentDISPOSITION:
    result = AttachmentAt(mime, StrToInt(lib.NextArgument())).Disposition;
    return;
  case AttachmentKIND:
    result = AttachmentAt(mime, StrToInt(lib.NextArgument())).ContentType;
    return;
  case AttachmentFILENAME:
    result = AttachmentAt(mime, StrToInt(lib.NextArgument())).FileName();
    return;
  default: lib.SetError(ErrUnknownSubfunction);
  }
}

void MessageParts::Line(Library &lib, const TLineText &lines, std::string &result) {
  const std::int32_t index = StrToInt(lib.NextArgument());
  if (index >= 0 && static_cast<std::size_t>(index) < lines.Count())
    result = lines.Line(static_cast<std::size_t>(index));
  else
    result = "\r";
}

void MessageParts::Retrieve(TLineText &message, T_Mime &parts, const TFetch &fetch) {
  TLineText lines;
  T_Mime split;
  T_Mime::Parser parser(split, T_Mime::Base64Parts::LeftEncoded);
  fetch(lines, [&parser](const TLineText &arrived) { parser.More(arrived); });
  parser.End(lines);
  parts.TakeParts(split);
  message = std::move(lines);
}
