#pragma once
// One response of an IMAP server (RFC 3501, 7), and the reading of the values
// in it. The wire reader (T_Imap) fills it: the tag, then the rest of the
// line with the marker "{n}" of every literal left in place and the
// literal's bytes kept aside, so that a value read from the text takes its
// literal's bytes when it meets the marker. Pure text work, no socket.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TImapResponse {
public:
  // "*" for untagged data, "+" for a continuation request, else the tag of
  // the command the response completes.
  std::string Tag;
  // The rest of the response after the tag and its blank.
  std::string Text;
  // The bytes of each literal, in the order of their markers in Text.
  std::vector<std::string> Literals;

  void Clear();
  bool Untagged() const { return Tag == "*"; }
  bool Continuation() const { return Tag == "+"; }
  // The status of a tagged or untagged status response ("OK", "NO", "BAD",
  // "BYE", "PREAUTH"), upper-cased; for data ("* 3 EXISTS", "* LIST ...") the
  // first word after a number, so "EXISTS", "LIST".
  std::string Kind() const;
  // The number before the kind ("* 3 EXISTS"); 0 when there is none.
  std::uint32_t Number() const;
  // The text of a status response after its status and any "[code]", and
  // the code ("ALERT", "UIDNEXT 7") without its brackets.
  std::string StatusText() const;
  std::string Code() const;

  // Whether a response whose line so far is line may carry literals: data
  // may, the free text of a status response may not (a "{5}" at the end of
  // its line is text).
  static bool MayHoldLiterals(std::string_view tag, std::string_view line);
  // The size in "{n}" (or "{n+}") at the end of a line; false when it ends
  // otherwise.
  static bool LiteralAtEnd(std::string_view line, std::uint64_t &size);

  // Reads the values of a response from the front: atoms, numbers,
  // strings (quoted or literal), NIL and parenthesised lists. A read that
  // finds something else returns false and leaves the place unchanged, so
  // an answer of the wrong shape is skipped, never trusted.
  class Reader {
  public:
    explicit Reader(const TImapResponse &response) : response_(response) {}
    // From the first value after the kind: "* 3 FETCH (" reads from "(".
    static Reader AfterKind(const TImapResponse &response);
    // For a response of that kind, moves into the list after the kind
    // ("* 3 FETCH (" to after the "("); false for any other kind, or when no
    // list follows.
    bool ListOf(std::string_view kind);

    bool AtEnd();
    // A "(" or ")", after any blanks.
    bool Open();
    bool Close();
    // An atom; brackets and what they hold count as part of it, so
    // "BODY[HEADER.FIELDS (FROM)]" is one word.
    bool Word(std::string &word);
    bool Number(std::uint64_t &value);
    // An astring or nstring: atom, quoted, literal, or NIL (nil is then set
    // and text empty).
    bool String(std::string &text, bool *nil = nullptr);
    // Skips one value of any kind, lists with all they hold.
    bool Skip();

  private:
    void SkipKind();
    void Blanks();
    bool Literal(std::string &text);

    const TImapResponse &response_;
    std::size_t at_ = 0;
    // The literal the next marker stands for.
    std::size_t literal_ = 0;
  };
};
