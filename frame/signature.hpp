// A function's signature written as Python writes it, read at compile time:
//
//     "(text, style=None, /, *, level=None, stream=None) -> str"
//
// Parameter names, their annotation texts and default texts, the "/" and "*"
// markers and the return annotation.  A malformed signature does not compile.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace tintara {

// Parameters of the longest signature (a constructor of many keyword-only
// options).
inline constexpr int kMaxParams = 13;

struct ParamSpec {
    std::string_view name;
    std::string_view annotation;  // empty: not annotated
    std::string_view fallback;    // the default's text; empty: required
    bool keyword_only = false;

    [[nodiscard]] constexpr bool has_default() const noexcept { return !fallback.empty(); }
};

// Called only where a signature cannot be read: a call of it in a constant
// expression is what stops the compilation, and its name says why.
void malformed_signature();

class Signature {
public:
    consteval Signature(const char* text) : text_(text)  // NOLINT: written as a string
    {
        parse();
    }

    [[nodiscard]] constexpr int size() const noexcept { return count_; }
    [[nodiscard]] constexpr const ParamSpec& operator[](int i) const noexcept
    {
        return params_[static_cast<size_t>(i)];
    }
    [[nodiscard]] constexpr int positional_only() const noexcept { return positional_only_; }
    [[nodiscard]] constexpr std::string_view returns() const noexcept { return returns_; }

private:
    consteval void skip_space()
    {
        while (at_ < text_.size() && text_[at_] == ' ') {
            ++at_;
        }
    }
    consteval bool take(char c)
    {
        skip_space();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    consteval std::string_view name()
    {
        skip_space();
        const size_t start = at_;
        while (at_ < text_.size() &&
               (text_[at_] == '_' || (text_[at_] >= 'a' && text_[at_] <= 'z') ||
                (text_[at_] >= 'A' && text_[at_] <= 'Z') ||
                (at_ > start && text_[at_] >= '0' && text_[at_] <= '9'))) {
            ++at_;
        }
        if (at_ == start) {
            malformed_signature();
        }
        return text_.substr(start, at_ - start);
    }
    // Text up to a "," or ")" outside brackets and quotes, spaces trimmed.
    consteval std::string_view expression()
    {
        skip_space();
        const size_t start = at_;
        int depth = 0;
        char quote = 0;
        for (; at_ < text_.size(); ++at_) {
            const char c = text_[at_];
            if (quote != 0) {
                at_ += c == '\\' ? 1 : 0;
                quote = c == quote ? 0 : quote;
            } else if (c == '\'' || c == '"') {
                quote = c;
            } else if (c == '[' || c == '(') {
                ++depth;
            } else if (c == ']' || (c == ')' && depth > 0)) {
                --depth;
            } else if (depth == 0 && (c == ',' || c == ')')) {
                break;
            }
        }
        size_t end = at_;
        while (end > start && text_[end - 1] == ' ') {
            --end;
        }
        if (end == start || quote != 0 || depth != 0) {
            malformed_signature();
        }
        return text_.substr(start, end - start);
    }

    consteval void parse()
    {
        if (!take('(')) {
            malformed_signature();
        }
        bool keyword_only = false;
        bool defaults = false;
        while (!take(')')) {
            if (count_ != 0 || keyword_only || positional_only_ != 0) {
                if (!take(',')) {
                    malformed_signature();
                }
            }
            if (take('/')) {
                if (keyword_only || positional_only_ != 0 || count_ == 0) {
                    malformed_signature();
                }
                positional_only_ = count_;
                continue;
            }
            if (take('*')) {
                if (keyword_only) {
                    malformed_signature();
                }
                keyword_only = true;
                continue;
            }
            if (count_ == kMaxParams) {
                malformed_signature();
            }
            ParamSpec& p = params_[static_cast<size_t>(count_++)];
            p.name = name();
            p.keyword_only = keyword_only;
            if (take(':')) {
                p.annotation = expression();
            }
            if (take('=')) {
                p.fallback = expression();
            }
            // After a default, a positional parameter needs one too.
            if (!keyword_only && defaults && !p.has_default()) {
                malformed_signature();
            }
            defaults = defaults || (!keyword_only && p.has_default());
        }
        skip_space();
        if (text_.substr(at_).starts_with("->")) {
            at_ += 2;
            skip_space();
            returns_ = text_.substr(at_);
            at_ = text_.size();
        }
        if (at_ != text_.size()) {
            malformed_signature();
        }
    }

    std::string_view text_;
    size_t at_ = 0;
    std::array<ParamSpec, kMaxParams> params_{};
    int count_ = 0;
    int positional_only_ = 0;
    std::string_view returns_;
};

}  // namespace tintara
