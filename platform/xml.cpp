#include "platform/xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <pugixml.hpp>

#include "platform/log_sink.h"
#include "platform/text.h"

struct XmlDocument {
  pugi::xml_document tree;
};

void XmlDocumentDeleter::operator()(XmlDocument* document) const { delete document; }

namespace {

// Only the predefined entities and character references are expanded; any other is left as
// written. The DOCTYPE is skipped unread. Line breaks inside attributes become spaces, as XML says.
constexpr unsigned kParseOptions = pugi::parse_default;

pugi::xml_node Node(XmlNode node) { return pugi::xml_node(static_cast<pugi::xml_node_struct*>(node.handle)); }
XmlNode Wrap(pugi::xml_node node) { return XmlNode{node.internal_object()}; }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The whole regular file into a buffer from pugixml's allocator (the parser then owns it and
// parses in place: one copy of the file in memory). Null on any failure.
void* ReadRegularFile(const std::string& path, size_t* size) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) return nullptr;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > kMaxXmlFileBytes) return nullptr;
  const size_t expected = static_cast<size_t>(info.st_size);
  void* buffer = pugi::get_memory_allocation_function()(expected + 1);
  if (!buffer) return nullptr;
  size_t done = 0;
  while (done < expected) {
    ssize_t got = read(fd.get(), static_cast<char*>(buffer) + done, expected - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the file shrank or failed: parse nothing half-read
    done += static_cast<size_t>(got);
  }
  if (done != expected) {
    pugi::get_memory_deallocation_function()(buffer);
    return nullptr;
  }
  *size = done;
  return buffer;
}

XmlDocumentPtr Finish(XmlDocumentPtr document, const pugi::xml_parse_result& result, std::wstring* error) {
  if (!result || !document->tree.document_element()) {
    PlatformLog(L"XML: not well-formed ({} at byte {})", Utf8ToWide(result.description()),
             static_cast<long long>(result.offset));
    if (error) *error = kXmlReadErrorText;
    return nullptr;
  }
  return document;
}

}  // namespace

XmlDocumentPtr LoadXmlDocument(const std::wstring& path, std::wstring* error) {
  size_t size = 0;
  void* buffer = ReadRegularFile(PathToBytes(path), &size);
  if (!buffer) {
    PlatformLog(L"XML: {} is not a readable regular file of at most {} bytes", path, kMaxXmlFileBytes);
    if (error) *error = kXmlReadErrorText;
    return nullptr;
  }
  XmlDocumentPtr document(new XmlDocument);
  pugi::xml_parse_result result =
      document->tree.load_buffer_inplace_own(buffer, size, kParseOptions, pugi::encoding_auto);
  return Finish(std::move(document), result, error);
}

XmlDocumentPtr ParseXmlDocument(std::string_view bytes, std::wstring* error) {
  XmlDocumentPtr document(new XmlDocument);
  pugi::xml_parse_result result =
      document->tree.load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
  return Finish(std::move(document), result, error);
}

XmlNode XmlDocumentNode(const XmlDocument& document) { return Wrap(document.tree); }

std::vector<XmlNode> XmlSelectNodes(XmlNode node, const std::wstring& xpath) {
  std::vector<XmlNode> nodes;
  if (!node) return nodes;
  try {
    pugi::xpath_node_set set = Node(node).select_nodes(WideToUtf8(xpath).c_str());
    set.sort();
    nodes.reserve(set.size());
    for (const pugi::xpath_node& found : set)
      if (found.node()) nodes.push_back(Wrap(found.node()));
  } catch (const std::exception& e) {
    PlatformLog(L"XML: the query {} failed: {}", xpath, Utf8ToWide(e.what()));
    nodes.clear();
  }
  return nodes;
}

std::vector<XmlNode> XmlChildElements(XmlNode node) {
  std::vector<XmlNode> children;
  for (pugi::xml_node child = Node(node).first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element) children.push_back(Wrap(child));
  return children;
}

std::string_view XmlAttributeUtf8(XmlNode node, const char* name) {
  pugi::xml_node element = Node(node);
  if (element.type() != pugi::node_element) return {};
  pugi::xml_attribute attribute = element.attribute(name);
  return attribute ? std::string_view(attribute.value()) : std::string_view();
}

std::wstring XmlAttribute(XmlNode node, const char* name) { return Utf8ToWide(XmlAttributeUtf8(node, name)); }

std::wstring XmlNodeName(XmlNode node) {
  pugi::xml_node element = Node(node);
  return element.type() == pugi::node_element ? Utf8ToWide(element.name()) : std::wstring();
}

bool XmlNameIs(XmlNode node, const char* name) {
  pugi::xml_node element = Node(node);
  return element.type() == pugi::node_element && std::string_view(element.name()) == name;
}

std::wstring XmlNodeText(XmlNode node) {
  std::string text;
  pugi::xml_node top = Node(node);
  if (!top) return {};
  if (top.type() == pugi::node_pcdata || top.type() == pugi::node_cdata) return Utf8ToWide(top.value());
  // Depth first without recursion: a hostile file may nest deeply.
  pugi::xml_node at = top.first_child();
  while (at) {
    if (at.type() == pugi::node_pcdata || at.type() == pugi::node_cdata) text += at.value();
    if (at.first_child()) {
      at = at.first_child();
      continue;
    }
    while (at && at != top && !at.next_sibling()) at = at.parent();
    if (!at || at == top) break;
    at = at.next_sibling();
  }
  return Utf8ToWide(text);
}
