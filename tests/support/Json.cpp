#include "Json.h"

#include <cstdlib>
#include <stdexcept>

namespace kelvane::test {
namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : m_text(text) {}

    JsonValue Document() {
        JsonValue v = Value();
        Skip();
        if (m_pos != m_text.size())
            Fail("text after the value");
        return v;
    }

  private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("JSON: " + what + " at " + std::to_string(m_pos));
    }
    void Skip() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' ||
                                         m_text[m_pos] == '\r' || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    bool Eat(char c) {
        Skip();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Eat(c))
            Fail(std::string("expected '") + c + "'");
    }
    bool Word(std::string_view w) {
        if (m_text.substr(m_pos, w.size()) != w)
            return false;
        m_pos += w.size();
        return true;
    }

    std::string String() {
        Expect('"');
        std::string out;
        while (true) {
            if (m_pos >= m_text.size())
                Fail("unterminated string");
            const char c = m_text[m_pos++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                Fail("control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size())
                Fail("unterminated escape");
            const char e = m_text[m_pos++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u': {
                if (m_pos + 4 > m_text.size())
                    Fail("short \\u escape");
                const unsigned long cp =
                    std::strtoul(std::string(m_text.substr(m_pos, 4)).c_str(), nullptr, 16);
                m_pos += 4;
                if (cp >= 0x80)
                    Fail("\\u escape above ASCII is not expected here");
                out += static_cast<char>(cp);
                break;
            }
            default:
                Fail("bad escape");
            }
        }
    }

    JsonValue Value() {
        Skip();
        if (m_pos >= m_text.size())
            Fail("missing value");
        JsonValue v;
        const char c = m_text[m_pos];
        if (c == '{') {
            v.kind = JsonValue::Kind::Object;
            ++m_pos;
            if (Eat('}'))
                return v;
            do {
                Skip();
                std::string key = String();
                Expect(':');
                if (!v.members.emplace(key, Value()).second)
                    Fail("duplicate key " + key);
            } while (Eat(','));
            Expect('}');
        } else if (c == '[') {
            v.kind = JsonValue::Kind::Array;
            ++m_pos;
            if (Eat(']'))
                return v;
            do
                v.items.push_back(Value());
            while (Eat(','));
            Expect(']');
        } else if (c == '"') {
            v.kind = JsonValue::Kind::String;
            v.text = String();
        } else if (Word("true") || Word("false")) {
            v.kind = JsonValue::Kind::Bool;
            v.boolean = m_text[m_pos - 1] == 'e' && m_text[m_pos - 2] == 'u';
        } else if (Word("null")) {
            v.kind = JsonValue::Kind::Null;
        } else {
            const std::size_t start = m_pos;
            while (m_pos < m_text.size() &&
                   std::string_view("+-0123456789.eE").find(m_text[m_pos]) != std::string_view::npos)
                ++m_pos;
            if (start == m_pos)
                Fail("unexpected character");
            v.kind = JsonValue::Kind::Number;
            v.numberText = std::string(m_text.substr(start, m_pos - start));
            char* end = nullptr;
            v.number = std::strtod(v.numberText.c_str(), &end);
            if (end != v.numberText.c_str() + v.numberText.size())
                Fail("bad number " + v.numberText);
        }
        return v;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

} // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
    if (kind != Kind::Object)
        throw std::runtime_error("JSON: not an object when looking up " + key);
    const auto it = members.find(key);
    if (it == members.end())
        throw std::runtime_error("JSON: no member " + key);
    return it->second;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
    if (kind != Kind::Array || index >= items.size())
        throw std::runtime_error("JSON: no item " + std::to_string(index));
    return items[index];
}

unsigned long long JsonValue::AsUnsigned() const {
    if (kind != Kind::Number || numberText.empty() ||
        numberText.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("JSON: not an unsigned integer: " + numberText);
    return std::strtoull(numberText.c_str(), nullptr, 10);
}

const std::string& JsonValue::AsString() const {
    if (kind != Kind::String)
        throw std::runtime_error("JSON: not a string");
    return text;
}

JsonValue ParseJson(std::string_view text) {
    return Parser(text).Document();
}

} // namespace kelvane::test
