#include "engine/protocol/UpdateConnectionFactory.h"
#include "engine/protocol/UtilityNamespace.h"

namespace talbo::tesk::vorta {

namespace {

// Every response: <tesk-utility><update><response success="..."> with any of model-name,
// version, status and reason. The namespace is filled in from kUtilityNamespace.
constexpr wchar_t kSchemaBeforeNamespace[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    L"<xsd:schema xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
    L" elementFormDefault=\"qualified\" attributeFormDefault=\"unqualified\""
    L" targetNamespace=\"";
constexpr wchar_t kSchemaBetweenNamespaces[] = L"\" xmlns:tns=\"";
constexpr wchar_t kSchemaAfterNamespace[] =
    L"\">\r\n"
    L"  <!-- another-app -->\r\n"
    L"  <xsd:complexType name=\"another-app\">\r\n"
    L"    <xsd:attribute name=\"app-name\" type=\"xsd:string\" use=\"optional\"/>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- update-not-complete -->\r\n"
    L"  <xsd:complexType name=\"update-not-complete\">\r\n"
    L"    <xsd:attribute name=\"progress\" type=\"xsd:string\" use=\"optional\"/>\r\n"
    L"    <xsd:attribute name=\"version\" type=\"xsd:string\" use=\"optional\"/>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- additional-data-status -->\r\n"
    L"  <xsd:complexType name=\"additional-data-status\" mixed=\"true\">\r\n"
    L"    <xsd:choice>\r\n"
    L"      <xsd:element name=\"update-not-complete\" type=\"tns:update-not-complete\"/>\r\n"
    L"      <xsd:element name=\"another-app\" type=\"tns:another-app\"/>\r\n"
    L"    </xsd:choice>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- status -->\r\n"
    L"  <xsd:complexType name=\"status\" mixed=\"true\">\r\n"
    L"    <xsd:all>\r\n"
    L"      <xsd:element name=\"additional-data\" type=\"tns:additional-data-status\""
    L" minOccurs=\"0\"/>\r\n"
    L"    </xsd:all>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- additional-data-reason -->\r\n"
    L"  <xsd:complexType name=\"additional-data-reason\" mixed=\"true\">\r\n"
    L"    <xsd:choice>\r\n"
    L"      <xsd:element name=\"another-app\" type=\"tns:another-app\"/>\r\n"
    L"    </xsd:choice>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- reason -->\r\n"
    L"  <xsd:complexType name=\"reason\" mixed=\"true\">\r\n"
    L"    <xsd:all>\r\n"
    L"      <xsd:element name=\"additional-data\" type=\"tns:additional-data-reason\""
    L" minOccurs=\"0\"/>\r\n"
    L"    </xsd:all>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- success -->\r\n"
    L"  <xsd:simpleType name=\"success\">\r\n"
    L"    <xsd:restriction base=\"xsd:string\">\r\n"
    L"      <xsd:enumeration value=\"true\"/>\r\n"
    L"      <xsd:enumeration value=\"false\"/>\r\n"
    L"    </xsd:restriction>\r\n"
    L"  </xsd:simpleType>\r\n"
    L"  <!-- response -->\r\n"
    L"  <xsd:complexType name=\"response\">\r\n"
    L"    <xsd:all>\r\n"
    L"      <xsd:element name=\"model-name\" type=\"xsd:string\" minOccurs=\"0\"/>\r\n"
    L"      <xsd:element name=\"version\" type=\"xsd:string\" minOccurs=\"0\"/>\r\n"
    L"      <xsd:element name=\"status\" type=\"tns:status\" minOccurs=\"0\"/>\r\n"
    L"      <xsd:element name=\"reason\" type=\"tns:reason\" minOccurs=\"0\"/>\r\n"
    L"    </xsd:all>\r\n"
    L"    <xsd:attribute name=\"success\" type=\"tns:success\" use=\"optional\"/>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- update -->\r\n"
    L"  <xsd:complexType name=\"update\">\r\n"
    L"    <xsd:sequence>\r\n"
    L"      <xsd:element name=\"response\" type=\"tns:response\"/>\r\n"
    L"    </xsd:sequence>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <!-- tesk-utility -->\r\n"
    L"  <xsd:complexType name=\"tesk-utility\">\r\n"
    L"    <xsd:sequence>\r\n"
    L"      <xsd:element name=\"update\" type=\"tns:update\"/>\r\n"
    L"    </xsd:sequence>\r\n"
    L"  </xsd:complexType>\r\n"
    L"  <xsd:element name=\"tesk-utility\" type=\"tns:tesk-utility\"/>\r\n"
    L"</xsd:schema>\r\n";

}  // namespace

const std::wstring& ResponseSchemaText() {
    static const std::wstring schema = std::wstring(kSchemaBeforeNamespace) + kUtilityNamespace +
                                       kSchemaBetweenNamespaces + kUtilityNamespace +
                                       kSchemaAfterNamespace;
    return schema;
}

}  // namespace talbo::tesk::vorta
