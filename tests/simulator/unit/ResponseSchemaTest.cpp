// Every response the simulator writes must load against the client's response schema. The
// schema is written out here from its description, apart from the client's own text.

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include <memory>
#include <string>

#include "common/Utf8.h"
#include "simulator/CResponseWriter.h"
#include "simulator/XmlIndent.h"

using namespace talbo::tesk::vorta::devsim;

namespace {

const std::string kSchema = R"(<?xml version="1.0" encoding="utf-8"?>
<xsd:schema xmlns:xsd="http://www.w3.org/2001/XMLSchema"
  xmlns:tns="http://www.talbo.com/schemas/2012/02/tesk-utility"
  targetNamespace="http://www.talbo.com/schemas/2012/02/tesk-utility"
  elementFormDefault="qualified" attributeFormDefault="unqualified">
  <!-- another-app -->
  <xsd:complexType name="another-app">
    <xsd:attribute name="app-name" type="xsd:string" use="optional"/>
  </xsd:complexType>
  <!-- update-not-complete -->
  <xsd:complexType name="update-not-complete">
    <xsd:attribute name="progress" type="xsd:string" use="optional"/>
    <xsd:attribute name="version" type="xsd:string" use="optional"/>
  </xsd:complexType>
  <!-- additional-data-status -->
  <xsd:complexType name="additional-data-status" mixed="true">
    <xsd:choice>
      <xsd:element name="update-not-complete" type="tns:update-not-complete"/>
      <xsd:element name="another-app" type="tns:another-app"/>
    </xsd:choice>
  </xsd:complexType>
  <!-- status -->
  <xsd:complexType name="status" mixed="true">
    <xsd:all>
      <xsd:element name="additional-data" type="tns:additional-data-status" minOccurs="0"/>
    </xsd:all>
  </xsd:complexType>
  <!-- additional-data-reason -->
  <xsd:complexType name="additional-data-reason" mixed="true">
    <xsd:choice>
      <xsd:element name="another-app" type="tns:another-app"/>
    </xsd:choice>
  </xsd:complexType>
  <!-- reason -->
  <xsd:complexType name="reason" mixed="true">
    <xsd:all>
      <xsd:element name="additional-data" type="tns:additional-data-reason" minOccurs="0"/>
    </xsd:all>
  </xsd:complexType>
  <!-- success -->
  <xsd:simpleType name="success">
    <xsd:restriction base="xsd:string">
      <xsd:enumeration value="true"/>
      <xsd:enumeration value="false"/>
    </xsd:restriction>
  </xsd:simpleType>
  <!-- response -->
  <xsd:complexType name="response">
    <xsd:all>
      <xsd:element name="model-name" type="xsd:string" minOccurs="0"/>
      <xsd:element name="version" type="xsd:string" minOccurs="0"/>
      <xsd:element name="status" type="tns:status" minOccurs="0"/>
      <xsd:element name="reason" type="tns:reason" minOccurs="0"/>
    </xsd:all>
    <xsd:attribute name="success" type="tns:success" use="optional"/>
  </xsd:complexType>
  <!-- update -->
  <xsd:complexType name="update">
    <xsd:sequence>
      <xsd:element name="response" type="tns:response"/>
    </xsd:sequence>
  </xsd:complexType>
  <!-- tesk-utility -->
  <xsd:complexType name="tesk-utility">
    <xsd:sequence>
      <xsd:element name="update" type="tns:update"/>
    </xsd:sequence>
  </xsd:complexType>
  <xsd:element name="tesk-utility" type="tns:tesk-utility"/>
</xsd:schema>
)";

void Quiet(void*, const xmlError*) {}

enum class Verdict { Valid, NotUtf8, NotWellFormed, SchemaInvalid };

Verdict Judge(const std::string& body) {
    if (!talbo::tesk::vorta::common::DecodeUtf8(body)) {
        return Verdict::NotUtf8;
    }
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadMemory(body.data(), static_cast<int>(body.size()), "response.xml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    if (!document) {
        return Verdict::NotWellFormed;
    }
    std::unique_ptr<xmlSchemaParserCtxt, decltype(&xmlSchemaFreeParserCtxt)> parser(
        xmlSchemaNewMemParserCtxt(kSchema.data(), static_cast<int>(kSchema.size())),
        xmlSchemaFreeParserCtxt);
    xmlSchemaSetParserStructuredErrors(parser.get(),
                                       reinterpret_cast<xmlStructuredErrorFunc>(Quiet), nullptr);
    std::unique_ptr<xmlSchema, decltype(&xmlSchemaFree)> schema(xmlSchemaParse(parser.get()),
                                                                xmlSchemaFree);
    EXPECT_TRUE(schema) << "the test's schema text does not compile";
    std::unique_ptr<xmlSchemaValidCtxt, decltype(&xmlSchemaFreeValidCtxt)> validator(
        xmlSchemaNewValidCtxt(schema.get()), xmlSchemaFreeValidCtxt);
    xmlSchemaSetValidStructuredErrors(validator.get(),
                                      reinterpret_cast<xmlStructuredErrorFunc>(Quiet), nullptr);
    return xmlSchemaValidateDoc(validator.get(), document.get()) == 0 ? Verdict::Valid
                                                                      : Verdict::SchemaInvalid;
}

}  // namespace

TEST(ResponseSchema, EveryAnswerOfADeviceIsValid) {
    const std::string answers[] = {
        InformationResponse("QX-Vorta-1000", "Ver.3.00TC", {"Idle", {}, {}, {}, false}),
        InformationResponse("Q&A <model>", "V\"1'", {"SelfUpdating", {}, {}, {}, false}),
        InformationResponse("QX", "V", {"AnotherApp", "Print", {}, {}, false}),
        InformationResponse("QX", "V", {"AnotherApp", "a<b&c", {}, {}, false}),
        InformationResponse("QX", "V", {"Broken", {}, "5", "Ver.3.01TC", true}),
        InformationResponse("QX", "V", {"Broken", {}, "7", {}, true}),
        InformationResponse("QX", "V", {"Broken", {}, {}, {}, false}),
        InformationResponse("", "", {"", {}, {}, {}, false}),
        AcceptedResponse(),
        RefusalResponse("InvalidFile"),
        RefusalResponse("ModeNotChanged"),
        RefusalResponse("AnotherApp", "WebConfig"),
        OversizedResponse((1u << 20) + 10),
    };
    for (const auto& answer : answers) {
        EXPECT_EQ(Judge(answer), Verdict::Valid) << answer.substr(0, 300);
        const std::string indented = IndentXml(answer);
        EXPECT_NE(indented, answer);
        EXPECT_EQ(Judge(indented), Verdict::Valid) << indented.substr(0, 300);
    }
    EXPECT_GT(OversizedResponse((1u << 20) + 10).size(), 1u << 20);
}

TEST(ResponseSchema, DamagedAnswersAreDamagedInTheWayTheirFaultSays) {
    EXPECT_EQ(Judge(MalformedXmlResponse()), Verdict::NotWellFormed);
    EXPECT_EQ(Judge(SchemaInvalidResponse()), Verdict::SchemaInvalid);
    EXPECT_EQ(Judge(NonUtf8Response()), Verdict::NotUtf8);
}

TEST(ResponseSchema, IndentedAnswersPutMixedTextOnALineOfItsOwn) {
    const std::string head =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<tesk-utility xmlns=\"http://www.talbo.com/schemas/2012/02/tesk-utility\">\r\n"
        "  <update>\r\n";
    EXPECT_EQ(IndentXml(InformationResponse("QX", "V", {"Broken", {}, "5", {}, true})),
              head +
                  "    <response success=\"true\">\r\n"
                  "      <model-name>QX</model-name>\r\n"
                  "      <version>V</version>\r\n"
                  "      <status>\r\n"
                  "        Broken\r\n"
                  "        <additional-data>\r\n"
                  "          <update-not-complete progress=\"5\"/>\r\n"
                  "        </additional-data>\r\n"
                  "      </status>\r\n"
                  "    </response>\r\n"
                  "  </update>\r\n"
                  "</tesk-utility>\r\n");
    EXPECT_EQ(IndentXml(AcceptedResponse()),
              head + "    <response success=\"true\"/>\r\n  </update>\r\n</tesk-utility>\r\n");
    // What does not nest is left exactly as it was.
    EXPECT_EQ(IndentXml(MalformedXmlResponse()), MalformedXmlResponse());
    EXPECT_EQ(IndentXml("<a><b></a></b>"), "<a><b></a></b>");
    EXPECT_EQ(IndentXml("<a/>text"), "<a/>text");
}
