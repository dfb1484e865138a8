#pragma once
// XML documents of other DJ programs, read-only. Files are parsed whole into a tree; a document
// type declaration is accepted and skipped: nothing is fetched and no entity of the file's own is
// expanded (only the five predefined ones and character references). Any thread; a document and
// its nodes stay on the thread that loaded them.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const wchar_t* kXmlReadErrorText = L"Couldn't read that XML file";
// Larger files are refused with kXmlReadErrorText: the tree takes a few times the file's size.
inline constexpr size_t kMaxXmlFileBytes = size_t(512) << 20;

struct XmlDocument;  // the parsed tree; frees every node when destroyed
struct XmlDocumentDeleter {
  void operator()(XmlDocument* document) const;
};
using XmlDocumentPtr = std::unique_ptr<XmlDocument, XmlDocumentDeleter>;

// One node of a loaded document; a null node (the default) answers every query with nothing.
// Valid while its document lives.
struct XmlNode {
  void* handle = nullptr;
  explicit operator bool() const { return handle != nullptr; }
};

// --- Loading ---
// The document of a regular file (links followed) of at most kMaxXmlFileBytes, or null with
// *error = kXmlReadErrorText when it is missing, not a regular file (a folder, a FIFO), too large,
// unreadable or not well-formed. Never blocks on a FIFO or device.
XmlDocumentPtr LoadXmlDocument(const std::wstring& path, std::wstring* error);
// The same from bytes in memory (tests, benchmarks).
XmlDocumentPtr ParseXmlDocument(std::string_view bytes, std::wstring* error);
// The document node, parent of the root element.
XmlNode XmlDocumentNode(const XmlDocument& document);

// --- Queries (never throw; a null node or a failed query gives nothing) ---
// The nodes an XPath 1.0 query selects from the node, in document order.
std::vector<XmlNode> XmlSelectNodes(XmlNode node, const std::wstring& xpath);
// The node's element children, in document order (text, comments and the like skipped).
std::vector<XmlNode> XmlChildElements(XmlNode node);
// The attribute's text; empty when the node is no element or the attribute is absent.
std::wstring XmlAttribute(XmlNode node, const char* name);
// The same without conversion: the attribute's UTF-8 bytes, valid while the document lives.
std::string_view XmlAttributeUtf8(XmlNode node, const char* name);
// The element's name; empty for other nodes.
std::wstring XmlNodeName(XmlNode node);
// True when the node is an element of exactly that name (no conversion).
bool XmlNameIs(XmlNode node, const char* name);
// The text content: every text and CDATA piece below the node, concatenated in order.
std::wstring XmlNodeText(XmlNode node);
