// The XML tree alone: any bytes as a document and as a bare element, within the tree's budget.
#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/classes.h"
#include "imaging/koxmls.h"

namespace {

// Walks the tree (bounded by the budget, so never deep or wide beyond it).
size_t CountElements(const vr::TKoXmlElement& e, int depth) {
  if (depth > vr::TKoXmlElement::MaxDepth + 1) __builtin_trap();
  size_t n = 1;
  for (int i = 0; i < e.ChildCount(); ++i) n += CountElements(*e.Children(i), depth + 1);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int document = 0; document < 2; ++document) {
    vr::TKoXml doc;
    vr::TKoXmlElement element;
    vr::TKoXmlElement& root = document ? static_cast<vr::TKoXmlElement&>(doc) : element;
    try {
      root.LoadFromText(text);
    } catch (const vr::Exception&) {
      continue;
    }
    if (CountElements(root, 1) > static_cast<size_t>(vr::TKoXmlElement::MaxItems)) __builtin_trap();
    // The typed getters on whatever came out.
    for (int i = 0; i < root.ChildCount() && i < 16; ++i) {
      const vr::TKoXmlElement& c = *root.Children(i);
      (void)c.ReadInteger("Count", 0);
      (void)c.ReadString("Name", "");
      (void)c.ReadBool("Visible", true);
      (void)root.IndexOfChild(c.Name);
    }
  }
  return 0;
}
