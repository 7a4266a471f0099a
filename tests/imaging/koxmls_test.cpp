#include "imaging/koxmls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/classes.h"
#include "framework/sysutils.h"

namespace vr {
namespace {

std::vector<std::string> ItemTexts(const TKoXmlTags& tags) {
  std::vector<std::string> out;
  for (int i = 0; i < tags.Count(); ++i) out.push_back(tags.Items(i)->Text());
  return out;
}

std::string ErrorOf(TKoXmlElement& el, const std::string& text) {
  try {
    el.LoadFromText(text);
  } catch (const EVrError& err) {
    return err.Message;
  }
  return "(no error)";
}

TEST(KoXmlTags, LexicalPassCutsLinesIntoTagsAndTextRuns) {
  TKoXmlTags tags;
  tags.Parse("lost<a>kept text\r\n<b x=\"1>2\">t<c/>\rtail<d\n<e>\n");
  // "lost" precedes the first '<' of its line; "<d" is still open at the line end; the empty text after
  // "<e>" is kept as an item.
  EXPECT_EQ(ItemTexts(tags),
            (std::vector<std::string>{"<a>", "kept text", "<b x=\"1>2\">", "t", "<c/>", "", "<e>", ""}));

  // A tag spanning two lines is lost whole; a NUL byte ends the text.
  TKoXmlTags spanning;
  spanning.Parse(std::string("<a\nb=\"1\">x\n<z>") + std::string("\0<y>", 4));
  EXPECT_EQ(ItemTexts(spanning), (std::vector<std::string>{"<z>", ""}));

  // Parse appends; items outside the range are none; FindNextElement skips to kind 1.
  TKoXmlTags more;
  more.Parse("<?xml version=\"1.0\"?>");
  more.Parse("<r>");
  EXPECT_EQ(more.Count(), 4);
  EXPECT_EQ(more.Items(-1), nullptr);
  EXPECT_EQ(more.Items(4), nullptr);
  int index = 0;
  EXPECT_TRUE(more.FindNextElement(index));
  EXPECT_EQ(index, 2);
  index = 3;
  EXPECT_FALSE(more.FindNextElement(index));
  EXPECT_EQ(index, 4);
}

TEST(KoXmlTags, ProgressReportsEveryLineAndOnceAtTheEnd) {
  std::vector<std::pair<int, int>> calls;
  TKoXmlTags tags;
  tags.OnProgress = [&](void* sender, int pos, int max) {
    EXPECT_EQ(sender, &tags);
    calls.emplace_back(pos, max);
  };
  tags.Parse("<a>\n<b>\n<c>");
  EXPECT_EQ(calls, (std::vector<std::pair<int, int>>{{0, 2}, {1, 2}, {2, 2}, {2, 2}}));
}

TEST(KoXmlTag, NameKindEndAndAttributeQuirks) {
  TKoXmlTag start("<Layer  Name=\"a b\" Alpha = \"128\" flag Left=x\"5\">");
  EXPECT_EQ(start.Name(), "Layer");
  EXPECT_EQ(start.Kind(), 1);
  EXPECT_FALSE(start.IsEnd());
  ASSERT_EQ(start.AttributeCount(), 3);
  EXPECT_EQ(start.Attribute(0).Name, "Name");
  EXPECT_EQ(start.Attribute(0).Value, "a b");
  EXPECT_EQ(start.Attribute(1).Name, "Alpha");
  EXPECT_EQ(start.Attribute(1).Value, "128");
  // "flag" has no '=' and so runs into the next name; bytes between '=' and the quote are ignored.
  EXPECT_EQ(start.Attribute(2).Name, "flag Left");
  EXPECT_EQ(start.Attribute(2).Value, "5");
  EXPECT_EQ(start.Attribute(3).Name, "");
  EXPECT_EQ(start.Attribute(-1).Value, "");

  TKoXmlTag end("</Layer>");
  EXPECT_EQ(end.Name(), "Layer");
  EXPECT_TRUE(end.IsEnd());
  EXPECT_EQ(end.Kind(), 1);

  TKoXmlTag empty("<RGB a=\"1\"/>");
  EXPECT_EQ(empty.Name(), "RGB");
  EXPECT_TRUE(empty.IsEnd());
  EXPECT_EQ(empty.Attribute(0).Value, "1");

  TKoXmlTag pi("<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>");
  EXPECT_EQ(pi.Kind(), 0);
  EXPECT_EQ(pi.Name(), "?xml");
  EXPECT_EQ(pi.AttributeCount(), 2);
  EXPECT_EQ(pi.Attribute(1).Value, "Shift_JIS");

  TKoXmlTag text("a/b");  // a text run ending in "/x" still counts as an end
  EXPECT_EQ(text.Kind(), 2);
  EXPECT_EQ(text.Name(), "");
  EXPECT_TRUE(text.IsEnd());
  EXPECT_EQ(TKoXmlTag("").Kind(), 2);
  EXPECT_FALSE(TKoXmlTag("").IsEnd());
  // The name is trimmed of blanks and control bytes; an unterminated name runs to the end.
  EXPECT_EQ(TKoXmlTag("<\tab>").Name(), "ab");
  EXPECT_EQ(TKoXmlTag("<abc").Name(), "abc");
  EXPECT_EQ(TKoXmlTag("<").Name(), "");
}

TEST(KoXmlEntities, ReferencesThenNamedEntitiesInOrder) {
  EXPECT_EQ(DecodeEntities("&#38;lt;"), "<");
  EXPECT_EQ(DecodeEntities("&amp;lt;"), "&lt;");
  EXPECT_EQ(DecodeEntities("&#0;&#70000;&#-1;&#zz;"), "&#0;&#70000;&#-1;&#zz;");
  EXPECT_EQ(DecodeEntities("&#33440;"), "\x82\xA0");
  EXPECT_EQ(DecodeEntities("&#65;&#x42;&#$43;"), "ABC");
  EXPECT_EQ(DecodeEntities("a&#65"), "a&#65");
  EXPECT_EQ(DecodeEntities("&gt;&lt;&quot;&apos;&AMP;"), "><\"&apos;&AMP;");
  // The byte inserted by a reference is not scanned again.
  EXPECT_EQ(DecodeEntities("&#38;#65;"), "&#65;");
  EXPECT_EQ(DecodeEntities(""), "");
}

TEST(KoXmlConvert, IntegerConversion) {
  int32_t v = 0;
  EXPECT_TRUE(KoXmlTryStrToInt("$FF", v));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(KoXmlTryStrToInt(" 12", v));
  EXPECT_EQ(v, 12);
  EXPECT_TRUE(KoXmlTryStrToInt("-0x10", v));
  EXPECT_EQ(v, -16);
  EXPECT_TRUE(KoXmlTryStrToInt("X1f", v));
  EXPECT_EQ(v, 31);
  EXPECT_TRUE(KoXmlTryStrToInt("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_TRUE(KoXmlTryStrToInt("$FFFFFFFF", v));
  EXPECT_EQ(v, -1);
  for (const char* bad : {"", " ", "12a", "2147483648", "-2147483649", "$", "0x", "$100000000", "1 ", "+"})
    EXPECT_FALSE(KoXmlTryStrToInt(bad, v)) << bad;
}

TEST(KoXmlElement, BuildsTreeWithTheReadersQuirks) {
  TKoXmlElement root;
  root.LoadFromText(
      "<?xml version=\"1.0\"?>\n"
      "<Vesk Width=\"640\" width=\"1\" Name=\"&quot;x&quot;\">\n"
      "<Frame><Layer a=\"1\"><Layer/>after\n"
      "</Frame>\n"
      "<a></b></a>\n"
      "<RGB>FF0000&amp;</RGB><e/>\n"
      "</Vesk>trailing\n"
      "<Other/>\n");
  EXPECT_EQ(root.Name, "Vesk");
  EXPECT_EQ(root.Parent(), nullptr);
  EXPECT_EQ(root.Owner(), nullptr);
  EXPECT_EQ(root.ReadInteger("WIDTH", 0), 640);  // first of two matching names
  EXPECT_EQ(root.ReadString("name", ""), "\"x\"");
  ASSERT_EQ(root.ChildCount(), 4);

  TKoXmlElement* frame = root.Children(0);
  EXPECT_EQ(frame->Parent(), &root);
  ASSERT_EQ(frame->ChildCount(), 1);
  // The empty-element tag named like the open Layer closes it; the text after it belongs to Frame.
  TKoXmlElement* layer = frame->Children(0);
  EXPECT_EQ(layer->Name, "Layer");
  EXPECT_EQ(layer->ChildCount(), 0);
  EXPECT_EQ(layer->ReadInteger("a", 0), 1);
  EXPECT_EQ(frame->Text, "after");

  TKoXmlElement* a = root.Children(1);
  ASSERT_EQ(a->ChildCount(), 1);
  EXPECT_EQ(a->Children(0)->Name, "b");  // a stray end tag becomes an empty child
  EXPECT_EQ(root.ReadChildText("rgb", "?"), "FF0000&");
  EXPECT_EQ(root.Children(3)->Name, "e");
  EXPECT_EQ(root.Children(4), nullptr);
  EXPECT_EQ(root.Children(-1), nullptr);
  // Empty text runs at line ends add nothing; the root's own text is only what stands directly in it.
  EXPECT_EQ(root.Text, "");
  EXPECT_EQ(root.IndexOfChild("E"), 3);
  EXPECT_EQ(root.IndexOfChild("none"), -1);

  // Unclosed elements end with the text.
  TKoXmlElement open;
  open.LoadFromText("<a>\n<b>x\n<c>");
  EXPECT_EQ(open.ChildCount(), 1);
  EXPECT_EQ(open.Children(0)->Text, "x");
  EXPECT_EQ(open.Children(0)->Children(0)->Name, "c");

  // Loading again replaces the tree; a text without tags leaves the element empty.
  open.LoadFromText("just text\n");
  EXPECT_EQ(open.Name, "");
  EXPECT_EQ(open.ChildCount(), 0);
  EXPECT_EQ(open.AttributeCount(), 0);
}

TEST(KoXmlElement, ProcessingInstructionsInsideAnElementJoinItsText) {
  TKoXmlElement el;
  el.LoadFromText("<a>x<?p?>y</a>");
  EXPECT_EQ(el.Text, "x<?p?>y");
}

TEST(KoXmlElement, TypedGettersAndMissingChildren) {
  TKoXmlElement el;
  el.LoadFromText(
      "<r t=\"True\" z=\"01\" o=\"1\" n=\"12a\" h=\"$FF\" s=\" 12\" empty=\"\"><Child>c</Child></r>");
  EXPECT_FALSE(el.ReadBool("t", true));
  EXPECT_FALSE(el.ReadBool("z", true));
  EXPECT_TRUE(el.ReadBool("O", false));
  EXPECT_TRUE(el.ReadBool("missing", true));
  EXPECT_EQ(el.ReadInteger("n", -7), -7);
  EXPECT_EQ(el.ReadInteger("h", 0), 255);
  EXPECT_EQ(el.ReadInteger("s", 0), 12);
  EXPECT_EQ(el.ReadInteger("empty", 3), 3);
  EXPECT_EQ(el.ReadString("empty", "d"), "");
  EXPECT_EQ(el.ReadString("gone", "d"), "d");
  EXPECT_TRUE(el.NameIs("R"));

  EXPECT_EQ(el.FindChild("child")->Text, "c");
  EXPECT_EQ(el.FindChild("RGB"), nullptr);
  EXPECT_EQ(el.ReadChildText("RGB", "dflt"), "dflt");
  el.RaiseIfMissing = true;
  try {
    el.FindChild("RGB");
    ADD_FAILURE() << "no error";
  } catch (const EVrError& err) {
    EXPECT_EQ(err.Message, "<RGB>がありません");
  }
  EXPECT_THROW(el.ReadChildText("RGB", ""), EVrError);
  EXPECT_EQ(el.ReadChildText("CHILD", ""), "c");

  el.Clear();
  EXPECT_EQ(el.Name, "");
  EXPECT_EQ(el.ChildCount(), 0);
  EXPECT_EQ(el.Attributes(0), nullptr);
}

TEST(KoXmlDocument, DeclarationChecksAndOwners) {
  TKoXml doc;
  EXPECT_EQ(ErrorOf(doc, "<r/>"), "未対応のファイル形式です");
  EXPECT_EQ(ErrorOf(doc, ""), "未対応のファイル形式です");
  EXPECT_EQ(ErrorOf(doc, "<?xml version=\"1.0\"?><r/>"), "未対応のファイル形式です");
  EXPECT_EQ(ErrorOf(doc, "<?xml version=\"1.1\" encoding=\"Shift_JIS\"?>"), "未対応のXML形式です");
  EXPECT_EQ(ErrorOf(doc, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), "未対応の文字セットです");
  EXPECT_EQ(ErrorOf(doc, "<r>\n<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>"), "未対応のファイル形式です");

  EXPECT_EQ(ErrorOf(doc, "<?xml VERSION=\"1.0\" Encoding=\"SHIFT-JIS\"?>\n<root k=\"v\"><c><d/></c></root>"),
            "(no error)");
  EXPECT_EQ(doc.Name, "root");
  ASSERT_EQ(doc.ChildCount(), 1);
  TKoXmlElement* c = doc.Children(0);
  EXPECT_EQ(c->Owner(), &doc);
  EXPECT_EQ(c->Children(0)->Owner(), &doc);
  EXPECT_EQ(c->Children(0)->Parent(), c);

  // A plain element skips a declaration and needs none.
  TKoXmlElement plain;
  plain.LoadFromText("<?xml version=\"9\"?>\n<root/>");
  EXPECT_EQ(plain.Name, "root");
  TKoXmlElement* added = plain.AddChild("x");
  EXPECT_EQ(added->Owner(), nullptr);
  EXPECT_EQ(plain.AddAttribute("k", "v"), 0);
  EXPECT_EQ(plain.AddAttribute("k", "w"), 1);
  EXPECT_EQ(plain.ReadString("K", ""), "v");
}

TEST(KoXmlDocument, LoadsFromTheStreamPositionAndReportsBuildProgress) {
  TMemoryStream stream;
  const std::string text = "junk<?xml version=\"1.0\" encoding=\"shift_jis\"?>\n<a><b/></a>";
  stream.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  stream.SetPosition(4);
  TKoXml doc;
  int buildCalls = 0;
  doc.OnProgress = [&](void* sender, int, int) {
    if (sender == &doc) ++buildCalls;
  };
  doc.LoadFromStream(stream);
  EXPECT_EQ(doc.Name, "a");
  EXPECT_EQ(doc.ChildCount(), 1);
  EXPECT_GT(buildCalls, 0);
}

TEST(KoXmlElement, NestingDepthIsBounded) {
  std::string ok, deep;
  for (int i = 0; i < TKoXmlElement::MaxDepth; ++i) ok += "<n>";
  for (int i = 0; i < 100000; ++i) deep += "<n>";
  TKoXmlElement el;
  el.LoadFromText(ok);
  int depth = 1;
  for (TKoXmlElement* p = &el; p->ChildCount() > 0; p = p->Children(0)) ++depth;
  EXPECT_EQ(depth, TKoXmlElement::MaxDepth);
  EXPECT_THROW(el.LoadFromText(deep), EVrError);
}

TEST(KoXml, FloodsOfElementsAndTextStayWithinTheBudget) {
  // A header of many tiny elements, on one line or on many: refused before the tree grows.
  std::string flood = "<r>";
  for (int i = 0; i < TKoXmlElement::MaxItems; ++i) flood += "<a/>";
  flood += "</r>";
  TKoXmlElement el;
  EXPECT_THROW(el.LoadFromText(flood), EVrError);
  std::string lines(static_cast<size_t>(TKoXmlElement::MaxItems) + 10, '\n');
  EXPECT_THROW(el.LoadFromText("<r>" + lines + "</r>"), EVrError);
  EXPECT_THROW(el.LoadFromText("<r>" + std::string(TKoXmlElement::MaxTextSize, 'x') + "</r>"), EVrError);
  // Within the budget the same shape loads.
  std::string fine = "<r>";
  for (int i = 0; i < 1000; ++i) fine += "<a/>";
  el.LoadFromText(fine + "</r>");
  EXPECT_EQ(el.ChildCount(), 1000);
}

}  // namespace
}  // namespace vr
