#pragma once
// One MIME part of a message: its content type, disposition and transfer
// encoding, and its content as bytes (base64 parts) or text lines (text
// parts). The MIME composer and parser own lists of them.
#include "ip_misc/TMemoryStream.h"
#include "ip_misc/TStringList.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class T_Attachment {
public:
  // Transfer encodings a part can have.
  static constexpr std::uint8_t EncodingBase64 = 0;
  static constexpr std::uint8_t EncodingQuotedPrintable = 1;
  static constexpr std::uint8_t EncodingNone = 2;

  std::string ContentType;
  // Empty: no Content-Disposition line is written for the part.
  std::string Disposition;
  TMemoryStream Data;
  TStringList Lines;
  std::uint8_t Encoding = EncodingNone;
  // A base64 part of a received message left as it came: lines [First,
  // Last) of the message's text, decoded only when it is saved. Data stays
  // empty then.
  struct TLineRange {
    std::size_t First = 0, Last = 0;
  };
  std::optional<TLineRange> Encoded;

  // Copies the lines and also writes their text, each followed by CR LF,
  // into Data (replacing what it held).
  void SetLines(const TStringList &lines);
  // Empties Lines only.
  void ClearLines() { Lines.clear(); }
  // Empties Lines and takes the whole content of the stream into Data.
  void SetData(const TMemoryStream &stream);
  // Empties Data only.
  void ClearData() { Data.Clear(); }
  // The name the part gives its content, in UTF-8 and fit to save a file
  // under (SafeFileName): the disposition's filename (its RFC 2231 form
  // first), else the type's name; empty when it has none.
  std::string FileName() const;
};
