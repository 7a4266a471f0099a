// A small line-oriented XML reader: Shift-JIS text in, a tree of elements with string attributes out.
// No namespaces, comments, CDATA, document types or single-quoted values; a tag must not span lines.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes.h"

namespace vr {

// Progress report: (sender, position, max). The sender is the TKoXmlTags or TKoXmlElement reporting.
using TKoXmlProgressEvent = std::function<void(void* sender, int position, int max)>;

// Name comparison of the reader: A-Z equal a-z, every other byte must be equal.
bool KoXmlSameName(const std::string& a, const std::string& b);
// Integer conversion of the reader: leading blanks, optional sign, decimal digits or hexadecimal
// digits after "$", "x", "X" or "0x". Returns false for any other character, an empty text or an
// overflow (hexadecimal values up to 0xFFFFFFFF are taken as 32-bit two's complement patterns).
bool KoXmlTryStrToInt(const std::string& text, int32_t& value);
// Decodes "&#n;" character references (n from 1 to 65535; 256 and above become a double-byte pair),
// then "&gt;", "&lt;", "&quot;" and "&amp;", in that order.
std::string DecodeEntities(const std::string& text);

// Item budget of TKoXmlTags::Parse (TKoXmlElement::MaxItems).
constexpr int kKoXmlMaxItems = 100000;

// One raw attribute of a lexical item; the value still carries its entities.
struct TKoXmlTagValue {
  std::string Name;
  std::string Value;
};

// One lexical item: a tag ("<...>"), a processing instruction ("<?...>") or a text run.
class TKoXmlTag {
 public:
  // Takes the item's raw text and, when it starts with "<", parses its name and attributes.
  explicit TKoXmlTag(std::string text);

  const std::string& Text() const { return text_; }
  // The tag name; empty for a text run.
  const std::string& Name() const { return name_; }
  // 0 = processing instruction, 1 = element tag (start, end or empty), 2 = text run.
  int Kind() const;
  // True for an end tag ("</x>") and an empty-element tag ("<x/>").
  bool IsEnd() const;
  int AttributeCount() const { return static_cast<int>(attributes_.size()); }
  // The attribute at index; an empty record outside the range.
  TKoXmlTagValue Attribute(int index) const;
  const std::vector<TKoXmlTagValue>& Attributes() const { return attributes_; }

 private:
  void ParseTag();
  std::string text_;
  std::string name_;
  std::vector<TKoXmlTagValue> attributes_;
};

// The lexical item list of one text.
class TKoXmlTags {
 public:
  TKoXmlTags() = default;
  TKoXmlTags(const TKoXmlTags&) = delete;
  TKoXmlTags& operator=(const TKoXmlTags&) = delete;

  // Appends the items of text (lines split at CR LF, CR or LF; a NUL byte ends the text). More than
  // maxItems items in all raise EVrError "XMLが大きすぎます".
  void Parse(const std::string& text, int maxItems = kKoXmlMaxItems);
  // Creates an item from text, appends it and returns it.
  TKoXmlTag* Add(const std::string& text);
  // Advances index to the next item of kind 1; returns whether index is still below Count.
  bool FindNextElement(int& index) const;
  int Count() const { return static_cast<int>(items_.size()); }
  // The item at index, or nullptr outside 0..Count-1.
  TKoXmlTag* Items(int index) const;
  void Clear() { items_.clear(); }

  TKoXmlProgressEvent OnProgress;

 private:
  std::vector<std::unique_ptr<TKoXmlTag>> items_;
};

// One attribute of an element; the value is already decoded.
class TKoXmlValue {
 public:
  std::string Name;
  std::string Value;
};

class TKoXml;

// One element with its attributes, its directly contained text and its child elements.
class TKoXmlElement {
 public:
  // Deepest element nesting Build accepts; deeper input raises EVrError instead of exhausting the stack.
  static constexpr int MaxDepth = 256;
  // Budget of one document: at most this many text bytes and lexical items (tags and text runs); more
  // raises EVrError "XMLが大きすぎます" before the tree is built, so memory stays a small multiple of
  // the budget whatever the input claims.
  static constexpr size_t MaxTextSize = 16 * 1048576;
  static constexpr int MaxItems = kKoXmlMaxItems;

  explicit TKoXmlElement(TKoXml* owner = nullptr);
  virtual ~TKoXmlElement();
  TKoXmlElement(const TKoXmlElement&) = delete;
  TKoXmlElement& operator=(const TKoXmlElement&) = delete;

  // Clears the element, reads the stream from its position to its end and builds the element from
  // the first element tag of the text.
  void LoadFromStream(TStream& stream);
  // The same from a text already in memory.
  void LoadFromText(const std::string& text);

  // Appends a child named name (parent: this element; owner: this element when it is a document,
  // else this element's owner) and returns it.
  TKoXmlElement* AddChild(const std::string& name);
  // Appends an attribute and returns its index.
  int AddAttribute(const std::string& name, const std::string& value);

  // Typed getters of the first attribute whose name matches.
  int32_t ReadInteger(const std::string& name, int32_t defaultValue) const;
  std::string ReadString(const std::string& name, const std::string& defaultValue) const;
  // True exactly when the value is "1"; defaultValue when there is no such attribute.
  bool ReadBool(const std::string& name, bool defaultValue) const;

  // Index of the first child whose name matches, else -1.
  int IndexOfChild(const std::string& name) const;
  // That child; when missing raises "<name>がありません" if RaiseIfMissing, else returns nullptr.
  TKoXmlElement* FindChild(const std::string& name) const;
  // The Text of that child; when missing the same error as FindChild or defaultValue.
  std::string ReadChildText(const std::string& name, const std::string& defaultValue) const;
  bool NameIs(const std::string& name) const { return KoXmlSameName(Name, name); }
  // Frees children and attributes, empties Name and Text.
  void Clear();

  int ChildCount() const { return static_cast<int>(children_.size()); }
  // The child at index, or nullptr outside the range.
  TKoXmlElement* Children(int index) const;
  int AttributeCount() const { return static_cast<int>(attributes_.size()); }
  // The attribute at index, or nullptr outside the range.
  TKoXmlValue* Attributes(int index) const;
  TKoXml* Owner() const { return owner_; }
  TKoXmlElement* Parent() const { return parent_; }

  std::string Name;
  std::string Text;
  bool RaiseIfMissing = false;
  TKoXmlProgressEvent OnProgress;

 protected:
  // True for a whole document (TKoXml), which checks the XML declaration when loading.
  virtual bool IsDocument() const { return false; }
  // Builds this element from the item at index; index ends past the element's last item.
  void Build(TKoXmlTags& tags, int& index, int depth);

 private:
  const TKoXmlValue* FindAttribute(const std::string& name) const;
  std::vector<std::unique_ptr<TKoXmlElement>> children_;
  std::vector<std::unique_ptr<TKoXmlValue>> attributes_;
  TKoXml* owner_ = nullptr;
  TKoXmlElement* parent_ = nullptr;
};

// A whole document: loading requires an XML declaration with version "1.0" and a Shift-JIS encoding.
class TKoXml : public TKoXmlElement {
 public:
  TKoXml() : TKoXmlElement(nullptr) {}

 protected:
  bool IsDocument() const override { return true; }
};

}  // namespace vr
