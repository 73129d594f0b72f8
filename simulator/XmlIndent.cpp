#include "simulator/XmlIndent.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace talbo::tesk::vorta::devsim {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kIndent = "  ";

struct Node {
    std::string_view open;   // start or empty-element tag; empty for a text
    std::string_view close;  // end tag; empty for an empty element or a text
    std::string_view text;
    std::vector<Node> children;

    bool IsText() const { return open.empty(); }
};

bool IsLayoutSpace(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

// "name" of "<name a=...>", "<name/>" or "</name>".
std::string_view TagName(std::string_view tag) {
    tag.remove_prefix(tag.size() > 1 && tag[1] == '/' ? 2 : 1);
    return tag.substr(0, tag.find_first_of(" \t\r\n/>"));
}

// The elements of the document below a synthetic top node; nullopt when tags do not nest.
std::optional<Node> ParseTree(std::string_view body) {
    Node top;
    std::vector<Node*> open{&top};
    std::size_t at = 0;
    while (at < body.size()) {
        if (body[at] != '<') {
            const std::size_t next = std::min(body.find('<', at), body.size());
            const std::string_view text = body.substr(at, next - at);
            // Outside the root element only layout white space may stand.
            if (open.size() > 1) {
                open.back()->children.push_back(Node{{}, {}, text, {}});
            } else if (!IsLayoutSpace(text)) {
                return std::nullopt;
            }
            at = next;
            continue;
        }
        const std::size_t end = body.find('>', at);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view tag = body.substr(at, end - at + 1);
        at = end + 1;
        if (tag.size() >= 2 && tag[1] == '/') {
            if (open.size() < 2 || TagName(open.back()->open) != TagName(tag)) {
                return std::nullopt;
            }
            open.back()->close = tag;
            open.pop_back();
        } else {
            open.back()->children.push_back(Node{tag, {}, {}, {}});
            // A parent's list grows only while it is on top, so this child stays put while it
            // is open.
            if (tag[tag.size() - 2] != '/') {
                open.push_back(&open.back()->children.back());
            }
        }
    }
    if (open.size() != 1) {
        return std::nullopt;
    }
    return top;
}

void Write(const Node& node, std::size_t depth, std::string& out) {
    std::string pad;
    for (std::size_t i = 0; i < depth; ++i) {
        pad += kIndent;
    }
    out += pad;
    if (node.IsText()) {
        out.append(node.text).append(kLineEnd);
        return;
    }
    out += node.open;
    const bool hasElements = std::any_of(node.children.begin(), node.children.end(),
                                         [](const Node& child) { return !child.IsText(); });
    if (!hasElements) {
        for (const Node& text : node.children) {
            out += text.text;
        }
        out.append(node.close).append(kLineEnd);
        return;
    }
    out += kLineEnd;
    for (const Node& child : node.children) {
        Write(child, depth + 1, out);
    }
    out.append(pad).append(node.close).append(kLineEnd);
}

}  // namespace

std::string IndentXml(std::string_view compact) {
    std::string_view body = compact;
    std::string out;
    if (body.substr(0, 2) == "<?") {
        const std::size_t end = body.find("?>");
        if (end == std::string_view::npos) {
            return std::string(compact);
        }
        out.append(body.substr(0, end + 2)).append(kLineEnd);
        body.remove_prefix(end + 2);
    }
    const std::optional<Node> tree = ParseTree(body);
    if (!tree || tree->children.size() != 1) {
        return std::string(compact);
    }
    Write(tree->children.front(), 0, out);
    return out;
}

}  // namespace talbo::tesk::vorta::devsim
