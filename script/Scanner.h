// Scanner of the expression language: cuts a source text into tokens.
#pragma once

#include "script/Tables.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace CorvaneVM {

// The lexeme is not copied: cut it from the source with start and length.
struct Token {
    TokenType type = TOKEN_EOF;
    uint32_t start = 0;
    uint32_t length = 0;
    uint32_t line = 0;
};

class Scanner {
public:
    // The source is referenced, not copied: it must outlive the scan.
    void initScanner(const std::string& source);
    Token scanToken();
    // Kind of the lexeme start..current: a keyword's kind or TOKEN_IDENTIFIER.
    TokenType identifierType() const;
    std::string_view lexeme(const Token& token) const;

private:
    bool _atEnd() const { return current >= source->size(); }
    char _advance() { return (*source)[current++]; }
    char _peek() const { return _atEnd() ? '\0' : (*source)[current]; }
    char _peekNext() const { return current + 1 >= source->size() ? '\0' : (*source)[current + 1]; }
    bool _match(char c);
    void _skipBlanks();
    Token _make(TokenType type) const;
    Token _string();
    Token _number();
    Token _identifier();

    const std::string* source = nullptr;
    uint32_t start = 0;
    uint32_t current = 0;
    uint32_t line = 1;
};

}  // namespace CorvaneVM
