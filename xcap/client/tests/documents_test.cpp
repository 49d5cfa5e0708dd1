// The PIDF and watcher-information value models: written through the bindings, read back, and
// failures that leave the value as it was.
#include "corvane/PidfDocument.h"
#include "corvane/WatcherInfoDocument.h"
#include "log/IM_LogManager.h"

#include <gtest/gtest.h>

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

PidfDocument sampleDocument() {
  PidfDocument d;
  d.setEntity("pres:alice@corp.example");
  d.setAgent("Postwing");
  PidfDocument::Tuple open;
  open.open = 1;
  open.extend = "busy";
  open.id = "t1";
  open.contact = "sip:alice@corp.example";
  open.priority = 0.8;
  open.notes = {u8"在开会 <till> 3 & more", "second"};
  open.year = 2026;
  open.month = 12;
  open.day = 10;
  open.hours = 13;
  open.minutes = 45;
  open.seconds = 30.5;
  d.addTuple(open);
  PidfDocument::Tuple closed;
  closed.id = "t2";
  d.addTuple(closed);
  Sptr<PidfDocument::Person> p(new PidfDocument::Person);
  p->id = "p1";
  p->displayName = u8"爱丽丝 \"A\"";
  p->signature = "ship it";
  p->card = "http://corp.example/alice.vcf";
  p->icon = "http://corp.example/alice.png";
  d.setPerson(p);
  d.getNotes().push_back("doc note");
  return d;
}

}  // namespace

TEST(PidfDocumentTest, EncodesAndDecodesEveryField) {
  std::string xml;
  ASSERT_EQ(0, sampleDocument().encode(xml));
  EXPECT_TRUE(has(xml, "entity=\"pres:alice@corp.example\"")) << xml;
  EXPECT_TRUE(has(xml, "agent=\"Postwing\""));
  EXPECT_TRUE(has(xml, "xmlns=\"urn:ietf:params:xml:ns:pidf\""));
  EXPECT_TRUE(has(xml, "xmlns:dm=\"urn:ietf:params:xml:ns:pidf:data-model\""));
  EXPECT_TRUE(has(xml, "<basic>closed</basic>"));
  EXPECT_TRUE(has(xml, "<extend/>"));  // written also when empty
  EXPECT_TRUE(has(xml, u8"在开会 &lt;till&gt; 3 &amp; more"));
  EXPECT_TRUE(has(xml, "priority=\"0.8\">sip:alice@corp.example</contact>"));
  EXPECT_EQ(xml.find("<contact"), xml.rfind("<contact"));  // the closed tuple has none
  EXPECT_TRUE(has(xml, "<dm:person id=\"p1\">"));
  EXPECT_FALSE(has(xml, "c:homepage"));  // empty fields are left out

  PidfDocument back;
  ASSERT_EQ(0, back.decode(xml));
  EXPECT_EQ("pres:alice@corp.example", back.getEntity());
  EXPECT_EQ("Postwing", back.getAgent());
  ASSERT_EQ(2, back.tupleCount());
  PidfDocument::Tuple t;
  ASSERT_EQ(0, back.getTuple(0, t));
  EXPECT_EQ(1, t.open);
  EXPECT_EQ("busy", t.extend);
  EXPECT_EQ("t1", t.id);
  EXPECT_EQ("sip:alice@corp.example", t.contact);
  EXPECT_DOUBLE_EQ(0.8, t.priority);
  EXPECT_EQ((std::vector<std::string>{u8"在开会 <till> 3 & more", "second"}), t.notes);
  EXPECT_EQ(2026, t.year);
  EXPECT_EQ(12, t.month);
  EXPECT_EQ(10, t.day);
  EXPECT_EQ(13, t.hours);
  EXPECT_EQ(45, t.minutes);
  EXPECT_DOUBLE_EQ(30.5, t.seconds);
  ASSERT_EQ(0, back.getTuple(1, t));
  EXPECT_EQ(0, t.open);
  EXPECT_EQ("", t.contact);
  EXPECT_EQ(0, t.year);
  ASSERT_TRUE(back.getPerson());
  EXPECT_EQ("p1", back.getPerson()->id);
  EXPECT_EQ(u8"爱丽丝 \"A\"", back.getPerson()->displayName);
  EXPECT_EQ("ship it", back.getPerson()->signature);
  EXPECT_EQ("http://corp.example/alice.vcf", back.getPerson()->card);
  EXPECT_EQ("", back.getPerson()->homepage);
  EXPECT_EQ(std::vector<std::string>{"doc note"}, back.getNotes());

  // Decoding again replaces, it does not append.
  ASSERT_EQ(0, back.decode(xml));
  EXPECT_EQ(2, back.tupleCount());
  EXPECT_EQ(1u, back.getNotes().size());
  EXPECT_EQ(-1, back.getTuple(-1, t));
  EXPECT_EQ(-1, back.getTuple(back.tupleCount(), t));
}

TEST(PidfDocumentTest, PersonWithOnlyAnIdAndNoTuples) {
  PidfDocument d;
  d.setEntity("pres:bob@corp.example");
  Sptr<PidfDocument::Person> p(new PidfDocument::Person);
  p->id = "only";
  d.setPerson(p);
  std::string xml;
  ASSERT_EQ(0, d.encode(xml));
  EXPECT_TRUE(has(xml, "<dm:person id=\"only\"/>")) << xml;
  EXPECT_FALSE(has(xml, "agent="));
  PidfDocument back;
  ASSERT_EQ(0, back.decode(xml));
  EXPECT_EQ(0, back.tupleCount());
  EXPECT_EQ("", back.getAgent());
  ASSERT_TRUE(back.getPerson());
  EXPECT_EQ("only", back.getPerson()->id);
}

TEST(PidfDocumentTest, FailuresLeaveTheDocumentAndDoNotThrow) {
  PidfDocument d = sampleDocument();
  IM_LogCapture cap;
  for (const std::string& bad : {std::string(""), std::string("<presence"),
                                 std::string("<presence xmlns='urn:other' entity='x'/>"),
                                 std::string("<!DOCTYPE p [<!ENTITY e SYSTEM 'file:///etc/passwd'>]>"
                                             "<presence xmlns='urn:ietf:params:xml:ns:pidf' entity='&e;'/>")}) {
    EXPECT_EQ(-1, d.decode(bad)) << bad;
  }
  EXPECT_TRUE(cap.contains("Corvane, [entity = pres:alice@corp.example, reason = Decode PidfDocument Failed]"));
  EXPECT_EQ("pres:alice@corp.example", d.getEntity());
  EXPECT_EQ(2, d.tupleCount());
  EXPECT_TRUE(d.getPerson());

  PidfDocument broken;
  broken.setEntity("pres:\xC4\xE3@corp");  // not UTF-8
  std::string out = "untouched";
  EXPECT_EQ(-1, broken.encode(out));
  EXPECT_EQ("untouched", out);
}

TEST(WatcherInfoDocumentTest, EmptyDocumentIsAFullVersionZero) {
  WatcherInfoDocument d;
  std::string xml;
  ASSERT_EQ(0, d.encode(xml));
  EXPECT_TRUE(has(xml, "xmlns=\"urn:ietf:params:xml:ns:watcherinfo\"")) << xml;
  EXPECT_TRUE(has(xml, "version=\"0\""));
  EXPECT_TRUE(has(xml, "state=\"full\""));
  EXPECT_TRUE(has(xml, "<watcher-list"));
  EXPECT_FALSE(has(xml, "<watcher "));
  WatcherInfoDocument back;
  ASSERT_EQ(0, back.decode(xml));
  EXPECT_EQ(0, back.watcherCount());
}

TEST(WatcherInfoDocumentTest, WatchersRoundTripAndDecodingAppends) {
  WatcherInfoDocument d;
  d.setResource("sip:alice@corp.example");
  d.setPackage("presence");
  WatcherInfoDocument::Watcher a;
  a.uri = "sip:bob@corp.example";
  a.event = "subscribe";
  a.status = "pending";
  a.id = "w1";
  a.inviterMessage = u8"加我 <now> & \"then\"";
  a.inviterDisplayName = "Bob's";
  d.addWatcher(a);
  WatcherInfoDocument::Watcher b;
  b.uri = "sip:carol@corp.example";
  b.event = "approved";
  b.status = "active";
  b.id = "w2";
  b.durationSubscribed = 3600;
  d.addWatcher(b);
  std::string xml;
  ASSERT_EQ(0, d.encode(xml));
  size_t first = xml.find("<watcher ");
  size_t second = xml.find("<watcher ", first + 1);
  ASSERT_NE(std::string::npos, second) << xml;
  EXPECT_FALSE(has(xml.substr(first, second - first), "duration-subscribed"));
  EXPECT_TRUE(has(xml.substr(second), "duration-subscribed=\"3600\""));

  WatcherInfoDocument back;
  ASSERT_EQ(0, back.decode(xml));
  EXPECT_EQ("sip:alice@corp.example", back.getResource());
  EXPECT_EQ("presence", back.getPackage());
  ASSERT_EQ(2, back.watcherCount());
  WatcherInfoDocument::Watcher w;
  ASSERT_EQ(0, back.getWatcher(0, w));
  EXPECT_EQ("sip:bob@corp.example", w.uri);
  EXPECT_EQ("subscribe", w.event);
  EXPECT_EQ("pending", w.status);
  EXPECT_EQ("w1", w.id);
  EXPECT_EQ(0u, w.durationSubscribed);
  EXPECT_EQ(u8"加我 <now> & \"then\"", w.inviterMessage);
  EXPECT_EQ("Bob's", w.inviterDisplayName);
  ASSERT_EQ(0, back.getWatcher(1, w));
  EXPECT_EQ(3600u, w.durationSubscribed);
  EXPECT_EQ("", w.inviterMessage);
  EXPECT_EQ(-1, back.getWatcher(back.watcherCount(), w));
  EXPECT_EQ(-1, back.getWatcher(-1, w));

  ASSERT_EQ(0, back.decode(xml));
  EXPECT_EQ(4, back.watcherCount());  // decoding appends
}

TEST(WatcherInfoDocumentTest, FirstListOnlyAndFailuresChangeNothing) {
  const std::string two =
      "<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' version='3' state='partial'>"
      "<watcher-list resource='sip:a@x' package='presence'>"
      "<watcher status='active' event='approved' id='1'>sip:b@x</watcher></watcher-list>"
      "<watcher-list resource='sip:other@x' package='other'>"
      "<watcher status='active' event='approved' id='2'>sip:c@x</watcher></watcher-list></watcherinfo>";
  WatcherInfoDocument d;
  ASSERT_EQ(0, d.decode(two));
  EXPECT_EQ("sip:a@x", d.getResource());
  EXPECT_EQ("presence", d.getPackage());
  ASSERT_EQ(1, d.watcherCount());
  EXPECT_EQ("sip:b@x", d.getWatchers()[0].uri);

  ASSERT_EQ(0, d.decode("<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' version='4' state='full'/>"));
  EXPECT_EQ("sip:a@x", d.getResource());  // no watcher-list: nothing changes
  EXPECT_EQ(1, d.watcherCount());

  IM_LogCapture cap;
  EXPECT_EQ(-1, d.decode("<watcherinfo"));
  EXPECT_EQ(-1, d.decode("<watcherinfo xmlns='urn:ietf:params:xml:ns:watcherinfo' version='x' state='full'/>"));
  EXPECT_TRUE(cap.contains("Corvane, [reason = Decode WatcherInfoDocument Failed]"));
  EXPECT_EQ("sip:a@x", d.getResource());
  EXPECT_EQ(1, d.watcherCount());

  WatcherInfoDocument broken;
  WatcherInfoDocument::Watcher w;
  w.uri = "sip:\xC4\xE3";  // not UTF-8
  w.event = "subscribe";
  w.status = "pending";
  broken.addWatcher(w);
  std::string out = "untouched";
  EXPECT_EQ(-1, broken.encode(out));
  EXPECT_EQ("untouched", out);
}
