#include "scpi/scpi_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "scpi/scpi_errors.h"

namespace rk350::scpi {
namespace {

// The standard's limit for a mnemonic or a word of character data.
constexpr std::size_t kLongestMnemonic = 12;

bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
std::string UpperCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), Upper);
  return out;
}

// The multipliers of unit suffixes, longest first ("MA" is mega; "M" milli).
struct Multiplier {
  const char* prefix;
  double factor;
};
constexpr Multiplier kMultipliers[] = {{"EX", 1e18}, {"PE", 1e15}, {"MA", 1e6}, {"T", 1e12}, {"G", 1e9},
                                       {"K", 1e3},   {"M", 1e-3},  {"U", 1e-6}, {"N", 1e-9}, {"P", 1e-12},
                                       {"F", 1e-15}, {"A", 1e-18}, {"", 1.0}};
// The units this instrument's parameters carry.
constexpr const char* kUnits[] = {"HZ", "V", "S", "PCT"};

struct Failure {
  Error error;
};

[[noreturn]] void Fail(Error error) { throw Failure{std::move(error)}; }

// Reads one program message left to right.
class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  ParsedMessage Parse() {
    ParsedMessage result;
    std::vector<std::string> base;  // the path a relative header starts from
    try {
      for (;;) {
        SkipSpace();
        if (AtEnd()) break;
        if (Peek() == ';') {  // an empty command
          ++i_;
          continue;
        }
        Command command = ReadCommand(base);
        result.commands.push_back(std::move(command));
        SkipSpace();
        if (AtEnd()) break;
        if (Peek() != ';') Fail(kInvalidSeparator());
        ++i_;
      }
    } catch (const Failure& failure) {
      result.error = failure.error;
    }
    return result;
  }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  void SkipSpace() {
    while (!AtEnd() && IsSpace(s_[i_])) ++i_;
  }

  // An unexpected character: printable text is a syntax error, anything else
  // an invalid character.
  [[noreturn]] void Unexpected(const char* where) const {
    const auto c = static_cast<unsigned char>(Peek());
    if (c >= 0x21 && c < 0x7F) Fail(kSyntaxError(std::string("unexpected '") + Peek() + "' " + where));
    Fail(kInvalidCharacter(where));
  }

  std::string Mnemonic() {
    if (!IsAlpha(Peek())) Unexpected("in the header");
    const std::size_t start = i_;
    while (!AtEnd() && (IsAlpha(s_[i_]) || IsDigit(s_[i_]) || s_[i_] == '_')) ++i_;
    std::size_t letters = i_;
    while (letters > start && IsDigit(s_[letters - 1])) --letters;  // the numeric suffix does not count
    if (letters - start > kLongestMnemonic) Fail(kMnemonicTooLong());
    return UpperCase(s_.substr(start, i_ - start));
  }

  Command ReadCommand(std::vector<std::string>& base) {
    Command c;
    if (Peek() == '*') {
      ++i_;
      c.common = true;
      c.path = {"*" + Mnemonic()};
    } else {
      const bool fromRoot = Peek() == ':';
      if (fromRoot) ++i_;
      std::vector<std::string> nodes = fromRoot ? std::vector<std::string>{} : base;
      nodes.push_back(Mnemonic());
      while (Peek() == ':') {
        ++i_;
        nodes.push_back(Mnemonic());
      }
      c.path = nodes;
      nodes.pop_back();
      base = nodes;
    }
    if (Peek() == '?') {
      ++i_;
      c.query = true;
    }
    if (AtEnd() || Peek() == ';') return c;
    if (!IsSpace(Peek())) Unexpected("after the header");
    SkipSpace();
    if (AtEnd() || Peek() == ';') return c;
    for (;;) {
      c.parameters.push_back(ReadParameter());
      SkipSpace();
      if (Peek() != ',') break;
      ++i_;
      SkipSpace();
    }
    if (!AtEnd() && Peek() != ';') Fail(kInvalidSeparator());
    return c;
  }

  Parameter ReadParameter() {
    const char c = Peek();
    if (c == '"' || c == '\'') return ReadString();
    if (c == '#') return ReadHash();
    if (IsAlpha(c)) return ReadWord();
    if (IsDigit(c) || c == '+' || c == '-' || c == '.') return ReadNumber();
    if (AtEnd() || c == ',' || c == ';') Fail(kMissingParameter());
    Unexpected("where a parameter belongs");
  }

  Parameter ReadString() {
    const char quote = s_[i_++];
    Parameter p;
    p.kind = Parameter::Kind::String;
    for (;;) {
      if (AtEnd()) Fail(kInvalidStringData("the string is not closed"));
      const char c = s_[i_++];
      if (c == quote) {
        if (Peek() != quote) break;
        ++i_;  // a doubled quote stands for one
      }
      p.text += c;
    }
    return p;
  }

  Parameter ReadWord() {
    const std::size_t start = i_;
    while (!AtEnd() && (IsAlpha(s_[i_]) || IsDigit(s_[i_]) || s_[i_] == '_')) ++i_;
    if (i_ - start > kLongestMnemonic) Fail(kCharacterDataTooLong());
    Parameter p;
    p.kind = Parameter::Kind::Word;
    p.text = UpperCase(s_.substr(start, i_ - start));
    return p;
  }

  Parameter ReadHash() {
    ++i_;
    const char kind = Upper(Peek());
    if (kind == 'H' || kind == 'B' || kind == 'Q') return ReadNonDecimal(kind);
    if (!IsDigit(Peek())) Fail(kInvalidBlockData("'#' without a length"));
    const int digits = s_[i_++] - '0';
    Parameter p;
    p.kind = Parameter::Kind::Block;
    if (digits == 0) {  // indefinite length: the rest of the message
      p.text = std::string(s_.substr(i_));
      i_ = s_.size();
      return p;
    }
    std::size_t length = 0;
    for (int d = 0; d < digits; ++d) {
      if (!IsDigit(Peek())) Fail(kInvalidBlockData("the length has fewer digits than announced"));
      length = length * 10 + static_cast<std::size_t>(s_[i_++] - '0');
    }
    if (s_.size() - i_ < length) Fail(kInvalidBlockData("the block is shorter than its length"));
    p.text = std::string(s_.substr(i_, length));
    i_ += length;
    return p;
  }

  Parameter ReadNonDecimal(char kind) {
    ++i_;
    const int base = kind == 'H' ? 16 : kind == 'B' ? 2 : 8;
    const std::size_t start = i_;
    while (!AtEnd() && (IsAlpha(s_[i_]) || IsDigit(s_[i_]))) ++i_;
    const std::string digits = UpperCase(s_.substr(start, i_ - start));
    unsigned long long value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value > (1ull << 53))
      Fail(kInvalidCharacterInNumber());
    Parameter p;
    p.kind = Parameter::Kind::Number;
    p.number = static_cast<double>(value);
    return p;
  }

  Parameter ReadNumber() {
    const std::size_t start = i_;
    if (Peek() == '+' || Peek() == '-') ++i_;
    std::size_t mantissa = 0;
    while (IsDigit(Peek())) ++i_, ++mantissa;
    if (Peek() == '.') {
      ++i_;
      while (IsDigit(Peek())) ++i_, ++mantissa;
    }
    if (mantissa == 0) Fail(kInvalidCharacterInNumber());
    std::string text(s_.substr(start, i_ - start));
    // An exponent: E, optional spaces, sign, digits. "E" followed by no
    // digits is not one (it may begin a suffix such as "EX").
    std::size_t j = i_;
    while (j < s_.size() && IsSpace(s_[j])) ++j;
    if (j < s_.size() && Upper(s_[j]) == 'E') {
      std::size_t k = j + 1;
      while (k < s_.size() && IsSpace(s_[k])) ++k;
      std::string exponent = "e";
      if (k < s_.size() && (s_[k] == '+' || s_[k] == '-')) exponent += s_[k++];
      const std::size_t digitsStart = k;
      while (k < s_.size() && IsDigit(s_[k])) exponent += s_[k++];
      if (k > digitsStart) {
        text += exponent;
        i_ = k;
      }
    }
    Parameter p;
    p.kind = Parameter::Kind::Number;
    p.number = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(p.number)) Fail(kExponentTooLarge());
    // A suffix: spaces, then letters (and '%' for percent).
    j = i_;
    while (j < s_.size() && IsSpace(s_[j])) ++j;
    if (j < s_.size() && (IsAlpha(s_[j]) || s_[j] == '%')) {
      std::size_t k = j;
      while (k < s_.size() && (IsAlpha(s_[k]) || s_[k] == '%')) ++k;
      ApplySuffix(p, UpperCase(s_.substr(j, k - j)));
      i_ = k;
    }
    return p;
  }

  static void ApplySuffix(Parameter& p, const std::string& suffix) {
    if (suffix == "%") {
      p.unit = "PCT";
      return;
    }
    if (suffix == "MHZ") {  // the standard reads this one as megahertz
      p.number *= 1e6;
      p.unit = "HZ";
      return;
    }
    for (const auto& m : kMultipliers) {
      const std::string prefix = m.prefix;
      if (suffix.rfind(prefix, 0) != 0) continue;
      const std::string unit = suffix.substr(prefix.size());
      const bool known =
          unit.empty() || std::any_of(std::begin(kUnits), std::end(kUnits), [&](const char* u) { return unit == u; });
      if (!known || (unit.empty() && prefix.empty())) continue;
      p.number *= m.factor;
      p.unit = unit;
      if (!std::isfinite(p.number)) Fail(kExponentTooLarge());
      return;
    }
    Fail(kInvalidSuffix("'" + suffix + "'"));
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

ParsedMessage ParseMessage(std::string_view message) { return Reader(message).Parse(); }

bool MatchMnemonic(std::string_view pattern, std::string_view written, int* suffix) {
  std::size_t letters = written.size();
  if (suffix != nullptr) {
    while (letters > 0 && IsDigit(written[letters - 1])) --letters;
    *suffix = 1;
    if (letters < written.size()) {
      const auto digits = written.substr(letters);
      // Any suffix too long to read is out of range, as a big one is.
      *suffix = digits.size() > 6 ? 1000000 : std::stoi(std::string(digits));
    }
  }
  const std::string word = UpperCase(written.substr(0, letters));
  std::string shortForm;
  for (char c : pattern)
    if (!(c >= 'a' && c <= 'z')) shortForm += c;
  return word == shortForm || word == UpperCase(pattern);
}

void MessageFramer::Keep(char c) {
  current_ += c;
  if (++textBytes_ > maxMessage_)
    StartSkipping(kInputBufferOverrun("a message is longer than " + std::to_string(maxMessage_) + " bytes"));
}

void MessageFramer::StartSkipping(Error error) {
  current_.clear();
  current_.shrink_to_fit();
  textBytes_ = 0;
  skipError_ = std::move(error);
  state_ = State::Skipping;
}

Error MessageFramer::Abandon() {
  current_.clear();
  textBytes_ = 0;
  skipBlock_ = false;
  skipError_.reset();
  state_ = State::Text;
  return kBlockDataError("the block ended before its announced length");
}

std::vector<MessageFramer::Item> MessageFramer::Feed(std::string_view bytes) {
  std::vector<Item> out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (state_ == State::BlockData) {
      const std::size_t n = std::min(blockLeft_, bytes.size() - i);
      if (!skipBlock_) current_.append(bytes.substr(i, n));
      i += n;
      blockLeft_ -= n;
      // Several blocks in one message are bounded together.
      if (!skipBlock_ && current_.size() > maxMessage_ + maxBlock_) {
        skipBlock_ = true;
        skipError_ = kTooMuchData("a message holds more than " + std::to_string(maxBlock_) + " bytes of blocks");
        current_.clear();
        current_.shrink_to_fit();
      }
      if (blockLeft_ == 0) {
        if (skipBlock_)
          state_ = State::Skipping;
        else
          state_ = State::Text;
        skipBlock_ = false;
      }
      continue;
    }
    const char c = bytes[i++];
    switch (state_) {
      case State::Skipping:
        if (c == '\n') {
          out.push_back({{}, skipError_});
          skipError_.reset();
          state_ = State::Text;
        }
        break;
      case State::Text:
        if (c == '\n') {
          out.push_back({std::move(current_), std::nullopt});
          current_.clear();
          textBytes_ = 0;
          break;
        }
        if (c == '"' || c == '\'') {
          quote_ = c;
          state_ = State::Quoted;
        } else if (c == '#') {
          state_ = State::Hash;
        }
        Keep(c);
        break;
      case State::Quoted:
        if (c == '\n') {  // an unclosed string ends with its line; the parser says so
          state_ = State::Text;
          --i;
          break;
        }
        if (c == quote_) state_ = State::Text;
        Keep(c);
        break;
      case State::Hash:
        state_ = State::Text;
        if (c >= '1' && c <= '9') {
          digits_ = c - '0';
          lengthText_.clear();
          state_ = State::BlockDigits;
        }
        if (c == '\n') {
          --i;
          break;
        }
        Keep(c);
        break;
      case State::BlockDigits:
        if (c < '0' || c > '9') {  // a malformed length: the parser reports it
          state_ = State::Text;
          --i;
          break;
        }
        lengthText_ += c;
        Keep(c);
        if (state_ == State::BlockDigits && static_cast<int>(lengthText_.size()) == digits_) {
          blockLeft_ = std::stoull(lengthText_);
          state_ = blockLeft_ == 0 ? State::Text : State::BlockData;
          if (blockLeft_ > maxBlock_) {
            skipBlock_ = true;
            skipError_ = kTooMuchData("a block is larger than " + std::to_string(maxBlock_) + " bytes");
            current_.clear();
            textBytes_ = 0;
          }
        }
        break;
      case State::BlockData:
        break;
    }
  }
  return out;
}

std::string FormatNumber(double value) {
  if (std::isnan(value)) return "9.91E+37";
  if (std::isinf(value)) return value > 0 ? "9.9E+37" : "-9.9E+37";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string DefiniteBlock(std::string_view bytes) {
  const std::string length = std::to_string(bytes.size());
  std::string out = "#" + std::to_string(length.size()) + length;
  out.append(bytes);
  return out;
}

std::string QuotedString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace rk350::scpi
