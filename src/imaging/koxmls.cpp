#include "imaging/koxmls.h"

#include <limits>

#include "framework/sysutils.h"

namespace vr {

namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Removes bytes of value 32 or less at both ends.
std::string TrimControl(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(s, pos, hit - pos);
    out += to;
    pos = hit + from.size();
  }
  if (pos == 0) return;
  out.append(s, pos, std::string::npos);
  s.swap(out);
}

}  // namespace

bool KoXmlSameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool KoXmlTryStrToInt(const std::string& text, int32_t& value) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  bool hex = false;
  if (i < n && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t acc = 0;
  if (hex) {
    for (; i < n; ++i) {
      int d = HexDigit(text[i]);
      if (d < 0) return false;
      acc = acc * 16 + static_cast<uint64_t>(d);
      if (acc > 0xFFFFFFFFull) return false;
    }
    uint32_t bits = static_cast<uint32_t>(acc);
    if (negative) bits = 0u - bits;
    value = static_cast<int32_t>(bits);
    return true;
  }
  const uint64_t limit = negative ? 2147483648ull : 2147483647ull;
  for (; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    acc = acc * 10 + static_cast<uint64_t>(text[i] - '0');
    if (acc > limit) return false;
  }
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(acc)) : static_cast<int32_t>(acc);
  return true;
}

std::string DecodeEntities(const std::string& text) {
  std::string s = text;
  size_t i = 0;
  while (i + 1 < s.size()) {
    if (s[i] != '&' || s[i + 1] != '#') {
      ++i;
      continue;
    }
    size_t semi = s.find(';', i + 2);
    if (semi == std::string::npos) break;  // no later ';': nothing more can be a reference
    int32_t code = 0;
    if (!KoXmlTryStrToInt(s.substr(i + 2, semi - i - 2), code)) code = 0;
    if (code < 1 || code > 65535) {
      ++i;  // left unchanged; scanning goes on after the '&'
      continue;
    }
    std::string repl;
    if (code >= 256) {
      repl += static_cast<char>((code >> 8) & 0xFF);
      repl += static_cast<char>(code & 0xFF);
    } else {
      repl += static_cast<char>(code);
    }
    s.replace(i, semi - i + 1, repl);
    i += repl.size();
  }
  ReplaceAll(s, "&gt;", ">");
  ReplaceAll(s, "&lt;", "<");
  ReplaceAll(s, "&quot;", "\"");
  ReplaceAll(s, "&amp;", "&");
  return s;
}

// ---------------------------------------------------------------------------------------------
// TKoXmlTag

TKoXmlTag::TKoXmlTag(std::string text) : text_(std::move(text)) {
  if (!text_.empty() && text_[0] == '<') ParseTag();
}

int TKoXmlTag::Kind() const {
  if (text_.empty() || text_[0] != '<') return 2;
  if (text_.size() >= 2 && text_[1] == '?') return 0;
  return 1;
}

bool TKoXmlTag::IsEnd() const {
  if (text_.size() >= 2 && text_[1] == '/') return true;
  return text_.size() >= 2 && text_[text_.size() - 2] == '/';
}

TKoXmlTagValue TKoXmlTag::Attribute(int index) const {
  if (index < 0 || index >= AttributeCount()) return TKoXmlTagValue{};
  return attributes_[static_cast<size_t>(index)];
}

void TKoXmlTag::ParseTag() {
  // Zero-based positions: the name starts at 1, or at 2 after "</"; the terminator is searched from 2.
  const size_t n = text_.size();
  size_t start = (n >= 2 && text_[1] == '/') ? 2 : 1;
  size_t end = n;
  bool atSpace = false;
  for (size_t p = 2; p < n; ++p) {
    char c = text_[p];
    if (c == ' ' || c == '/' || c == '>') {
      end = p;
      atSpace = c == ' ';
      break;
    }
  }
  name_ = end > start ? TrimControl(text_.substr(start, end - start)) : std::string();
  if (!atSpace) return;

  // Attributes: from after the space up to, not including, the item's last byte.
  int state = 0;
  size_t mark = 0;
  size_t valueStart = 0;
  const size_t last = n - 1;
  for (size_t p = end + 1; p < last; ++p) {
    char c = text_[p];
    switch (state) {
      case 0:
        if (c != ' ') {
          mark = p;
          state = 1;
        }
        break;
      case 1:
        if (c == '=') {
          attributes_.push_back(TKoXmlTagValue{TrimControl(text_.substr(mark, p - mark)), std::string()});
          state = 2;
        }
        break;
      case 2:
        if (c == '"') {
          valueStart = p + 1;
          state = 3;
        }
        break;
      default:
        if (c == '"') {
          attributes_.back().Value = text_.substr(valueStart, p - valueStart);
          state = 0;
        }
        break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TKoXmlTags

TKoXmlTag* TKoXmlTags::Add(const std::string& text) {
  items_.push_back(std::make_unique<TKoXmlTag>(text));
  return items_.back().get();
}

TKoXmlTag* TKoXmlTags::Items(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return items_[static_cast<size_t>(index)].get();
}

bool TKoXmlTags::FindNextElement(int& index) const {
  while (index < Count() && items_[static_cast<size_t>(index)]->Kind() != 1) ++index;
  return index < Count();
}

namespace {
[[noreturn]] void TooLarge() { throw EVrError("XMLが大きすぎます"); }
}  // namespace

void TKoXmlTags::Parse(const std::string& text, int maxItems) {
  // Split into lines (a NUL ends the text; a line break at the very end starts no further line).
  size_t limit = text.find('\0');
  if (limit == std::string::npos) limit = text.size();
  std::vector<std::pair<size_t, size_t>> lines;  // start, length
  size_t pos = 0;
  while (pos < limit) {
    size_t e = pos;
    while (e < limit && text[e] != '\r' && text[e] != '\n') ++e;
    // Every line yields at least one item: more lines than the budget are refused at once.
    if (static_cast<int64_t>(lines.size()) >= static_cast<int64_t>(maxItems) - Count()) TooLarge();
    lines.emplace_back(pos, e - pos);
    if (e < limit && text[e] == '\r') {
      ++e;
      if (e < limit && text[e] == '\n') ++e;
    } else if (e < limit) {
      ++e;
    }
    pos = e;
  }
  const int lineCount = static_cast<int>(lines.size());
  auto add = [&](std::string item) {
    if (Count() >= maxItems) TooLarge();
    Add(item);
  };

  for (int li = 0; li < lineCount; ++li) {
    if (OnProgress) OnProgress(this, li, lineCount - 1);
    const char* line = text.data() + lines[static_cast<size_t>(li)].first;
    const size_t len = lines[static_cast<size_t>(li)].second;
    int state = 0;
    size_t s = 0;  // tag start (zero-based)
    size_t t = 0;  // text start + 1; 0 means no pending text
    for (size_t p = 0; p < len; ++p) {
      const char c = line[p];
      if (state == 0) {
        if (c == '<') {
          if (t > 0 && p > t - 1) add(std::string(line + t - 1, p - (t - 1)));
          t = 0;
          s = p;
          state = 1;
        }
      } else if (state == 1) {
        if (c == '>') {
          add(std::string(line + s, p - s + 1));
          state = 0;
          t = p + 2;
        } else if (c == '"') {
          state = 2;
        }
      } else if (c == '"') {
        state = 1;
      }
    }
    if (t > 0) add(t - 1 < len ? std::string(line + t - 1, len - (t - 1)) : std::string());
  }
  if (OnProgress) OnProgress(this, lineCount - 1, lineCount - 1);
}

// ---------------------------------------------------------------------------------------------
// TKoXmlElement

TKoXmlElement::TKoXmlElement(TKoXml* owner) : owner_(owner) {}

TKoXmlElement::~TKoXmlElement() = default;

void TKoXmlElement::Clear() {
  children_.clear();
  attributes_.clear();
  Name.clear();
  Text.clear();
}

TKoXmlElement* TKoXmlElement::Children(int index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return children_[static_cast<size_t>(index)].get();
}

TKoXmlValue* TKoXmlElement::Attributes(int index) const {
  if (index < 0 || index >= AttributeCount()) return nullptr;
  return attributes_[static_cast<size_t>(index)].get();
}

TKoXmlElement* TKoXmlElement::AddChild(const std::string& name) {
  TKoXml* owner = IsDocument() ? static_cast<TKoXml*>(this) : owner_;
  auto child = std::make_unique<TKoXmlElement>(owner);
  child->Name = name;
  child->parent_ = this;
  children_.push_back(std::move(child));
  return children_.back().get();
}

int TKoXmlElement::AddAttribute(const std::string& name, const std::string& value) {
  auto v = std::make_unique<TKoXmlValue>();
  v->Name = name;
  v->Value = value;
  attributes_.push_back(std::move(v));
  return AttributeCount() - 1;
}

const TKoXmlValue* TKoXmlElement::FindAttribute(const std::string& name) const {
  for (const auto& a : attributes_)
    if (KoXmlSameName(a->Name, name)) return a.get();
  return nullptr;
}

int32_t TKoXmlElement::ReadInteger(const std::string& name, int32_t defaultValue) const {
  const TKoXmlValue* a = FindAttribute(name);
  int32_t v = 0;
  if (a && KoXmlTryStrToInt(a->Value, v)) return v;
  return defaultValue;
}

std::string TKoXmlElement::ReadString(const std::string& name, const std::string& defaultValue) const {
  const TKoXmlValue* a = FindAttribute(name);
  return a ? a->Value : defaultValue;
}

bool TKoXmlElement::ReadBool(const std::string& name, bool defaultValue) const {
  const TKoXmlValue* a = FindAttribute(name);
  return a ? a->Value == "1" : defaultValue;
}

int TKoXmlElement::IndexOfChild(const std::string& name) const {
  for (size_t i = 0; i < children_.size(); ++i)
    if (children_[i]->NameIs(name)) return static_cast<int>(i);
  return -1;
}

TKoXmlElement* TKoXmlElement::FindChild(const std::string& name) const {
  int i = IndexOfChild(name);
  if (i >= 0) return children_[static_cast<size_t>(i)].get();
  if (RaiseIfMissing) throw EVrError(Format("<%s>がありません", {name}));
  return nullptr;
}

std::string TKoXmlElement::ReadChildText(const std::string& name, const std::string& defaultValue) const {
  TKoXmlElement* child = FindChild(name);
  return child ? child->Text : defaultValue;
}

void TKoXmlElement::Build(TKoXmlTags& tags, int& index, int depth) {
  if (depth > MaxDepth) throw EVrError("XMLの要素の入れ子が深すぎます");
  const TKoXmlTag* head = tags.Items(index);
  if (!head) return;
  Name = head->Name();
  for (const TKoXmlTagValue& a : head->Attributes()) AddAttribute(a.Name, DecodeEntities(a.Value));
  ++index;
  if (head->IsEnd()) return;
  const int count = tags.Count();
  while (index < count) {
    if (!parent_ && OnProgress) OnProgress(this, index, count - 1);
    const TKoXmlTag* item = tags.Items(index);
    if (item->IsEnd() && KoXmlSameName(item->Name(), Name)) {
      ++index;
      return;
    }
    if (item->Kind() == 1) {
      AddChild(item->Name())->Build(tags, index, depth + 1);
    } else {
      Text += DecodeEntities(item->Text());
      ++index;
    }
  }
}

void TKoXmlElement::LoadFromText(const std::string& text) {
  Clear();
  if (text.size() > MaxTextSize) TooLarge();
  TKoXmlTags tags;
  tags.OnProgress = OnProgress;
  tags.Parse(text);
  int index = 0;
  if (IsDocument()) {
    const TKoXmlTag* decl = tags.Items(0);
    if (!decl || decl->Kind() != 0) throw EVrError("未対応のファイル形式です");
    const TKoXmlTagValue* version = nullptr;
    const TKoXmlTagValue* encoding = nullptr;
    for (const TKoXmlTagValue& a : decl->Attributes()) {
      if (!version && KoXmlSameName(a.Name, "version")) version = &a;
      if (!encoding && KoXmlSameName(a.Name, "encoding")) encoding = &a;
    }
    if (!version || !encoding) throw EVrError("未対応のファイル形式です");
    if (version->Value != "1.0") throw EVrError("未対応のXML形式です");
    std::string enc = encoding->Value;
    for (char& c : enc) c = LowerAscii(c);
    if (enc != "shift_jis" && enc != "shift-jis") throw EVrError("未対応の文字セットです");
    index = 1;
  }
  if (tags.FindNextElement(index)) Build(tags, index, 1);
}

void TKoXmlElement::LoadFromStream(TStream& stream) {
  std::string text;
  std::vector<char> buffer(65536);
  for (;;) {
    int32_t got = stream.Read(buffer.data(), static_cast<int32_t>(buffer.size()));
    if (got <= 0) break;
    text.append(buffer.data(), static_cast<size_t>(got));
    if (text.size() > MaxTextSize) TooLarge();
  }
  LoadFromText(text);
}

}  // namespace vr
