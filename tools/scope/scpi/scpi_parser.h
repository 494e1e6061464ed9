// SCPI program messages as text: splitting a byte stream into messages,
// a message into commands with their full header paths, and parameters into
// numbers (with unit suffixes), character data, strings and blocks. Pure: no
// socket, no instrument, so every rule is tested alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rk350::scpi {

// An entry for the error queue: the standard's number and its text.
struct Error {
  int code = 0;
  std::string message;
};

struct Parameter {
  enum class Kind { Number, Word, String, Block };
  Kind kind = Kind::Word;
  std::string text;     // the word (upper case), the string's content or the block's bytes
  double number = 0.0;  // Number: the value with the suffix's multiplier applied
  std::string unit;     // Number: the suffix's unit in upper case ("V", "HZ", "S"), empty when none
};

struct Command {
  bool common = false;            // a *XXX command; `path` then holds "*XXX"
  std::vector<std::string> path;  // the header's mnemonics in upper case from the root, e.g. {"CHAN2", "RANG"}
  bool query = false;
  std::vector<Parameter> parameters;
};

// The commands of one program message, and the error that ended it early:
// the commands before an error run, the rest of the message is discarded.
struct ParsedMessage {
  std::vector<Command> commands;
  std::optional<Error> error;
};

// `message` without its terminator. Headers without a leading colon follow
// the path of the command before them in the same message.
ParsedMessage ParseMessage(std::string_view message);

// Whether a written mnemonic ("chan2", "CHANNEL") matches a pattern in the
// SCPI form ("CHANnel": the capitals are the short form). With `suffix`
// non-null the pattern takes a numeric suffix (1 when none is written).
bool MatchMnemonic(std::string_view pattern, std::string_view written, int* suffix);

// Splits a byte stream into program messages at newlines that lie outside
// strings and definite-length blocks. Bounded: a message longer than
// `maxMessage` bytes outside blocks, or a block above `maxBlock` bytes, is
// skipped to its end and reported instead of kept.
class MessageFramer {
 public:
  MessageFramer(std::size_t maxMessage, std::size_t maxBlock) : maxMessage_(maxMessage), maxBlock_(maxBlock) {}

  struct Item {
    std::string message;         // without the terminator
    std::optional<Error> error;  // set instead when the message was skipped
  };
  // Feeds bytes; complete messages (or errors) come out in order.
  std::vector<Item> Feed(std::string_view bytes);
  // Whether a message is half received inside a block (its sender may have
  // miscounted); `Abandon` drops it and gives the error to report.
  bool InsideBlock() const { return state_ == State::BlockDigits || state_ == State::BlockData; }
  Error Abandon();

 private:
  enum class State { Text, Quoted, Hash, BlockDigits, BlockData, Skipping };
  void Keep(char c);
  void StartSkipping(Error error);

  std::size_t maxMessage_, maxBlock_;
  State state_ = State::Text;
  std::string current_;
  std::size_t textBytes_ = 0;  // bytes of the message outside blocks
  char quote_ = 0;
  int digits_ = 0;
  std::size_t blockLeft_ = 0;
  std::string lengthText_;
  bool skipBlock_ = false;  // the block being read is skipped, not kept
  std::optional<Error> skipError_;
};

// A response: numbers in the shortest form that reads back to the same
// double, NaN as the standard's 9.91E37.
std::string FormatNumber(double value);
// An IEEE 488.2 definite-length block: #<digits><length><bytes>.
std::string DefiniteBlock(std::string_view bytes);
// A string response in double quotes, inner quotes doubled.
std::string QuotedString(std::string_view text);

}  // namespace rk350::scpi
