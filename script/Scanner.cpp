#include "script/Scanner.h"

namespace CorvaneVM {

namespace {
bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

void Scanner::initScanner(const std::string& text) {
    source = &text;
    start = current = 0;
    line = 1;
}

std::string_view Scanner::lexeme(const Token& token) const {
    if (!source || token.start > source->size()) return {};
    return std::string_view(*source).substr(token.start, token.length);
}

bool Scanner::_match(char c) {
    if (_atEnd() || (*source)[current] != c) return false;
    ++current;
    return true;
}

void Scanner::_skipBlanks() {
    while (!_atEnd()) {
        char c = _peek();
        if (c == ' ' || c == '\r' || c == '\t') {
            ++current;
        } else if (c == '\n') {
            ++line;
            ++current;
        } else if (c == '/' && _peekNext() == '/') {
            while (!_atEnd() && _peek() != '\n') ++current;
        } else {
            return;
        }
    }
}

Token Scanner::_make(TokenType type) const { return Token{type, start, current - start, line}; }

TokenType Scanner::identifierType() const {
    if (!source) return TOKEN_IDENTIFIER;
    return keywordType(std::string_view(*source).substr(start, current - start));
}

Token Scanner::_identifier() {
    while (!_atEnd() && (isAlpha(_peek()) || isDigit(_peek()))) ++current;
    return _make(identifierType());
}

Token Scanner::_number() {
    while (isDigit(_peek())) ++current;
    if (_peek() == '.' && isDigit(_peekNext())) {
        ++current;
        while (isDigit(_peek())) ++current;
        return _make(TOKEN_FLOAT_LIT);
    }
    return _make(TOKEN_INT_LIT);
}

Token Scanner::_string() {
    while (!_atEnd() && _peek() != '"') {
        if (_peek() == '\n') ++line;
        ++current;
    }
    if (_atEnd()) return _make(TOKEN_ERROR);
    ++current;  // closing quote
    return _make(TOKEN_STRING_LIT);
}

Token Scanner::scanToken() {
    if (!source) return Token{TOKEN_ERROR, 0, 0, line};
    _skipBlanks();
    start = current;
    if (_atEnd()) return _make(TOKEN_EOF);

    char c = _advance();
    if (isAlpha(c)) return _identifier();
    if (isDigit(c)) return _number();
    switch (c) {
    case '(': return _make(TOKEN_LEFT_PAREN);
    case ')': return _make(TOKEN_RIGHT_PAREN);
    case '{': return _make(TOKEN_LEFT_BRACE);
    case '}': return _make(TOKEN_RIGHT_BRACE);
    case '[': return _make(TOKEN_LEFT_BRACKET);
    case ']': return _make(TOKEN_RIGHT_BRACKET);
    case ',': return _make(TOKEN_COMMA);
    case '.': return _make(TOKEN_DOT);
    case '-': return _make(TOKEN_MINUS);
    case '+': return _make(TOKEN_PLUS);
    case ';': return _make(TOKEN_SEMICOLON);
    case '/': return _make(TOKEN_SLASH);
    case '*': return _make(TOKEN_STAR);
    case '!': return _make(_match('=') ? TOKEN_BANG_EQUAL : TOKEN_BANG);
    case '=': return _make(_match('=') ? TOKEN_EQUAL_EQUAL : TOKEN_EQUAL);
    case '<': return _make(_match('=') ? TOKEN_LESS_EQUAL : TOKEN_LESS);
    case '>': return _make(_match('=') ? TOKEN_GREATER_EQUAL : TOKEN_GREATER);
    case '&': return _make(_match('&') ? TOKEN_AND : TOKEN_ERROR);
    case '|': return _make(_match('|') ? TOKEN_OR : TOKEN_ERROR);
    case '"': return _string();
    default: return _make(TOKEN_ERROR);
    }
}

}  // namespace CorvaneVM
