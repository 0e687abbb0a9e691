// The colour of a line of types 1 to 5: an LDraw colour number, or a direct colour.
//
// A direct colour is a colour token that starts with "0x" or "0X" followed by a hexadecimal digit
// (0x2RRGGBB, 0x3RRGGBB and the other forms LDraw defines). Its token is kept exactly as written
// and written back unchanged: read as a number it would be 0, black. A direct colour is never
// one of the inherited colours 16 and 24.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace weldrix {

// Colours a line inherits from the reference that inlines it: 16 is the reference's colour, 24 its
// edge colour; both become the reference's own colour.
inline constexpr std::int32_t current_colour = 16;
inline constexpr std::int32_t edge_colour = 24;

// The token of a direct colour, owned and copied with its holder; null for a colour number.
class colour_token {
public:
    colour_token() = default;
    explicit colour_token(std::string_view text) : text_(std::make_unique<const std::string>(text)) {}
    colour_token(const colour_token& other)
        : text_(other.text_ ? std::make_unique<const std::string>(*other.text_) : nullptr) {}
    colour_token& operator=(const colour_token& other) {
        if (this != &other) *this = colour_token(other);
        return *this;
    }
    colour_token(colour_token&&) noexcept = default;
    colour_token& operator=(colour_token&&) noexcept = default;
    ~colour_token() = default;

    explicit operator bool() const { return text_ != nullptr; }
    std::string_view text() const { return text_ ? std::string_view(*text_) : std::string_view(); }

private:
    std::unique_ptr<const std::string> text_;
};

class line_colour {
public:
    line_colour() = default;
    // A colour number.
    line_colour(std::int32_t number) : number_(number) {}  // NOLINT: a number is a colour
    // A direct colour, token as written.
    static line_colour direct(std::string_view token);

    // The colour of a number and a token, as a line keeps them (a direct colour when the token is
    // not null).
    line_colour(std::int32_t number, const colour_token& token) : number_(number), direct_(token) {}

    std::int32_t number() const { return number_; }
    bool is_direct() const { return static_cast<bool>(direct_); }
    const colour_token& token() const { return direct_; }
    // The token of a direct colour (empty for a colour number).
    std::string_view direct_text() const { return direct_.text(); }
    // Whether a line of this colour takes the colour of the reference that inlines it.
    bool inherited() const { return !direct_ && (number_ == current_colour || number_ == edge_colour); }

    // The colour as written in a line: the number in decimal, or the direct colour's token.
    void append_text(std::string& out) const;

    bool operator==(const line_colour& other) const {
        return number_ == other.number_ && direct_text() == other.direct_text();
    }
    bool operator==(std::int32_t number) const { return !direct_ && number_ == number; }

private:
    std::int32_t number_ = current_colour;
    colour_token direct_;
};

}  // namespace weldrix
