#include "platform/com/idl_parser.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <set>

#include "platform/com/ascii.h"

namespace {

bool IsIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool IsIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

enum class Tok { kEnd, kIdent, kNumber, kString, kPunct };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  int line = 1;
};

struct Attr {
  std::string name;  // lower case
  bool has_arg = false;
  bool quoted = false;
  std::string arg;
  int line = 0;
};

using Attrs = std::vector<Attr>;

// Base interfaces every definition may derive from, with their slot counts
// and depth below IUnknown (the depth goes into default member ids).
struct KnownBase {
  int slots;
  int depth;
};

struct TypeName {
  const char* name;
  VARTYPE vt;
  bool is_interface;  // written with its own `*`
};

constexpr TypeName kTypes[] = {
    {"long", VT_I4, false},         {"short", VT_I2, false},          {"int", VT_INT, false},
    {"float", VT_R4, false},        {"double", VT_R8, false},         {"BSTR", VT_BSTR, false},
    {"VARIANT", VT_VARIANT, false}, {"VARIANT_BOOL", VT_BOOL, false}, {"DATE", VT_DATE, false},
    {"IUnknown", VT_UNKNOWN, true}, {"IDispatch", VT_DISPATCH, true},
};

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  IdlParseResult Run() {
    IdlParseResult result;
    if (ParseFile() && Finish()) {
      result.library = std::move(library_);
    } else {
      result.error = "line " + std::to_string(error_line_) + ": " + error_;
    }
    return result;
  }

 private:
  // ---- errors -------------------------------------------------------------
  bool Fail(int line, std::string message) {
    if (error_.empty()) {
      error_ = std::move(message);
      error_line_ = line;
    }
    return false;
  }
  bool Fail(std::string message) { return Fail(Peek().line, std::move(message)); }

  // ---- lexer --------------------------------------------------------------
  // Skips blanks and comments; false for an unterminated comment.
  bool SkipSpace() {
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (text_.substr(pos_, 2) == "//") {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else if (text_.substr(pos_, 2) == "/*") {
        size_t end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) return Fail(line_, "unterminated comment");
        line_ += static_cast<int>(std::count(text_.begin() + pos_, text_.begin() + end, '\n'));
        pos_ = end + 2;
      } else {
        break;
      }
    }
    return true;
  }

  bool LexString(Token* tok) {
    ++pos_;  // opening quote
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_];
      if (c == '\n') break;
      if (c == '\\' && pos_ + 1 < text_.size() && text_[pos_ + 1] != '\n') c = text_[++pos_];
      tok->text += c;
      ++pos_;
    }
    if (pos_ >= text_.size() || text_[pos_] != '"') return Fail(tok->line, "unterminated string");
    ++pos_;
    return true;
  }

  // Reads the next token into `next_`; a lexical error leaves kEnd and fails.
  bool Lex() {
    next_ = Token();
    if (!SkipSpace()) return false;
    next_.line = line_;
    if (pos_ >= text_.size()) return true;
    char c = text_[pos_];
    size_t start = pos_;
    if (IsIdentStart(c)) {
      while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
      next_.kind = Tok::kIdent;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      while (pos_ < text_.size() && (IsIdentChar(text_[pos_]) || text_[pos_] == '.')) ++pos_;
      next_.kind = Tok::kNumber;
    } else if (c == '"') {
      next_.kind = Tok::kString;
      return LexString(&next_);
    } else if (std::string_view("[](){},;:*-").find(c) != std::string_view::npos) {
      ++pos_;
      next_.kind = Tok::kPunct;
    } else {
      std::string shown = std::isprint(static_cast<unsigned char>(c))
                              ? std::string(1, c)
                              : "\\x" + std::to_string(static_cast<unsigned char>(c));
      return Fail(line_, "unexpected character '" + shown + "'");
    }
    next_.text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  const Token& Peek() {
    if (!peeked_) {
      if (!Lex()) next_ = Token{Tok::kEnd, "", line_};
      peeked_ = true;
    }
    return next_;
  }
  Token Take() {
    Token t = Peek();
    peeked_ = false;
    return t;
  }
  bool IsPunct(char c) { return Peek().kind == Tok::kPunct && Peek().text[0] == c; }
  bool IsWord(std::string_view w) { return Peek().kind == Tok::kIdent && Peek().text == w; }
  bool Accept(char c) {
    if (!IsPunct(c)) return false;
    Take();
    return true;
  }
  bool Expect(char c, const char* where) {
    if (Accept(c)) return true;
    return Fail(std::string("expected '") + c + "' " + where + Found());
  }
  std::string Found() {
    const Token& t = Peek();
    if (!error_.empty()) return "";
    if (t.kind == Tok::kEnd) return ", found end of text";
    return ", found '" + t.text + "'";
  }
  bool ExpectIdent(std::string* out, const char* what) {
    if (Peek().kind != Tok::kIdent) return Fail(std::string("expected ") + what + Found());
    *out = Take().text;
    return true;
  }

  // Raw text of an attribute argument up to the closing parenthesis. The
  // lexer's position is used directly because a uuid is not made of tokens.
  bool RawArgument(Attr* attr) {
    if (!SkipSpace()) return false;
    if (pos_ < text_.size() && text_[pos_] == '"') {
      Token tok{Tok::kString, "", line_};
      if (!LexString(&tok)) return false;
      attr->arg = tok.text;
      attr->quoted = true;
    } else {
      size_t end = text_.find_first_of(")\n[]{};", pos_);
      if (end == std::string_view::npos || text_[end] != ')') {
        return Fail(line_, "unterminated argument of '" + attr->name + "'");
      }
      attr->arg = std::string(text_.substr(pos_, end - pos_));
      while (!attr->arg.empty() && std::isspace(static_cast<unsigned char>(attr->arg.back()))) {
        attr->arg.pop_back();
      }
      pos_ = end;
    }
    return Expect(')', ("after the argument of '" + attr->name + "'").c_str());
  }

  // ---- attributes ---------------------------------------------------------
  bool ParseAttrs(Attrs* attrs) {
    attrs->clear();
    if (!IsPunct('[')) return true;
    Take();
    do {
      Attr attr;
      attr.line = Peek().line;
      std::string name;
      if (!ExpectIdent(&name, "an attribute")) return false;
      attr.name = LowerAscii(name);
      for (const Attr& a : *attrs) {
        if (a.name == attr.name) return Fail(attr.line, "attribute '" + name + "' repeated");
      }
      if (IsPunct('(')) {
        // Take the '(' without lexing past it: the argument is read raw.
        peeked_ = false;
        attr.has_arg = true;
        if (!RawArgument(&attr)) return false;
      }
      attrs->push_back(std::move(attr));
    } while (Accept(','));
    return Expect(']', "to close the attribute list");
  }

  // Fails for an attribute not in `allowed` or one whose argument presence
  // does not match (names in `with_arg` take one, the others none).
  bool CheckAttrs(const Attrs& attrs, std::initializer_list<const char*> allowed,
                  std::initializer_list<const char*> with_arg, const char* what) {
    for (const Attr& a : attrs) {
      bool known =
          std::any_of(allowed.begin(), allowed.end(), [&](const char* n) { return a.name == n; });
      if (!known) return Fail(a.line, "attribute '" + a.name + "' is not supported on " + what);
      bool wants_arg =
          std::any_of(with_arg.begin(), with_arg.end(), [&](const char* n) { return a.name == n; });
      if (wants_arg != a.has_arg) {
        return Fail(a.line, "attribute '" + a.name +
                                (wants_arg ? "' needs an argument" : "' takes no argument"));
      }
    }
    return true;
  }

  static const Attr* Find(const Attrs& attrs, const char* name) {
    for (const Attr& a : attrs) {
      if (a.name == name) return &a;
    }
    return nullptr;
  }

  bool AttrGuid(const Attrs& attrs, const std::string& owner, GUID* out) {
    const Attr* a = Find(attrs, "uuid");
    if (!a) return Fail("'" + owner + "' has no uuid");
    std::optional<GUID> g = GuidFromString("{" + a->arg + "}");
    if (!g) return Fail(a->line, "malformed uuid '" + a->arg + "'");
    *out = *g;
    return true;
  }

  bool AttrString(const Attrs& attrs, const char* name, std::string* out) {
    const Attr* a = Find(attrs, name);
    if (!a) return true;
    if (!a->quoted) return Fail(a->line, std::string("'") + name + "' needs a quoted string");
    *out = a->arg;
    return true;
  }

  // Decimal or 0x hexadecimal, optionally negative, within 32 bits.
  bool ParseInt(const Attr& a, int64_t min, int64_t max, int64_t* out) {
    std::string_view s = a.arg;
    bool negative = !s.empty() && s[0] == '-';
    if (negative) s.remove_prefix(1);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      base = 16;
      s.remove_prefix(2);
    }
    int64_t value = 0;
    bool ok = !s.empty() && !a.quoted;
    for (char c : s) {
      int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                  ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                  : -1;
      if (d < 0 || value > (INT64_C(1) << 33)) {
        ok = false;
        break;
      }
      value = value * base + d;
    }
    if (negative) value = -value;
    if (!ok || value < min || value > max) {
      return Fail(a.line, "bad number '" + a.arg + "' for '" + a.name + "'");
    }
    *out = value;
    return true;
  }

  bool AttrVersion(const Attrs& attrs, WORD* major, WORD* minor) {
    const Attr* a = Find(attrs, "version");
    if (!a) return true;
    size_t dot = a->arg.find('.');
    Attr part = *a;
    int64_t ma = 0, mi = 0;
    part.arg = a->arg.substr(0, dot);
    if (!ParseInt(part, 0, 65535, &ma)) return false;
    if (dot != std::string::npos) {
      part.arg = a->arg.substr(dot + 1);
      if (!ParseInt(part, 0, 65535, &mi)) return false;
    }
    *major = static_cast<WORD>(ma);
    *minor = static_cast<WORD>(mi);
    return true;
  }

  // ---- types and members --------------------------------------------------
  bool ParseType(IdlType* type, std::string* spelled) {
    int line = Peek().line;
    std::string name;
    if (!ExpectIdent(&name, "a type")) return false;
    const TypeName* found = nullptr;
    for (const TypeName& t : kTypes) {
      if (name == t.name) found = &t;
    }
    if (!found) return Fail(line, "unknown type '" + name + "'");
    int stars = 0;
    while (Accept('*')) ++stars;
    int base_stars = found->is_interface ? 1 : 0;
    if (stars < base_stars || stars > base_stars + 1) {
      return Fail(line, "type '" + name + std::string(stars, '*') + "' is not supported");
    }
    type->vt = found->vt;
    type->by_pointer = stars > base_stars;
    *spelled = name + std::string(stars, '*');
    return true;
  }

  bool ParseParam(IdlParam* param) {
    Attrs attrs;
    if (!ParseAttrs(&attrs)) return false;
    if (!CheckAttrs(attrs, {"in", "out", "retval", "optional"}, {}, "a parameter")) return false;
    int line = Peek().line;
    std::string spelled;
    if (!ParseType(&param->type, &spelled) || !ExpectIdent(&param->name, "a parameter name")) {
      return false;
    }
    bool in = Find(attrs, "in"), out = Find(attrs, "out"), retval = Find(attrs, "retval");
    bool optional = Find(attrs, "optional");
    if (in && out) return Fail(line, "in-out parameter '" + param->name + "' is not supported");
    if (out && !retval) {
      return Fail(line, "out parameter '" + param->name + "' must be the retval");
    }
    if (retval && !out) return Fail(line, "retval parameter '" + param->name + "' must be out");
    if (out != param->type.by_pointer) {
      return Fail(line, out ? "retval parameter '" + param->name + "' must be a pointer"
                            : "by-reference parameter '" + param->name + "' (" + spelled +
                                  ") is not supported");
    }
    if (optional && (out || param->type.vt != VT_VARIANT)) {
      return Fail(line, "optional parameter '" + param->name + "' must be an input VARIANT");
    }
    param->flags = out ? PARAMFLAG_FOUT | PARAMFLAG_FRETVAL : PARAMFLAG_FIN;
    if (optional) param->flags |= PARAMFLAG_FOPT;
    return true;
  }

  bool ParseParams(IdlMethod* method) {
    if (!Expect('(', "before the parameters")) return false;
    if (Accept(')')) return true;
    if (IsWord("void")) {
      Take();
      return Expect(')', "after 'void'");
    }
    do {
      IdlParam param;
      int line = Peek().line;
      if (!ParseParam(&param)) return false;
      if (!method->params.empty()) {
        const IdlParam& prev = method->params.back();
        if (prev.flags & PARAMFLAG_FRETVAL) return Fail(line, "the retval must be last");
        if ((prev.flags & PARAMFLAG_FOPT) && !(param.flags & (PARAMFLAG_FOPT | PARAMFLAG_FOUT))) {
          return Fail(line, "'" + param.name + "' follows an optional parameter");
        }
      }
      for (const IdlParam& p : method->params) {
        if (LowerAscii(p.name) == LowerAscii(param.name)) {
          return Fail(line, "parameter '" + param.name + "' repeated");
        }
      }
      method->params.push_back(std::move(param));
    } while (Accept(','));
    return Expect(')', "after the parameters");
  }

  bool ParseMethod(IdlInterface* iface, int depth, std::set<MEMBERID>* explicit_ids) {
    Attrs attrs;
    if (!ParseAttrs(&attrs)) return false;
    if (!CheckAttrs(attrs, {"id", "helpstring", "hidden", "restricted"}, {"id", "helpstring"},
                    "a method")) {
      return false;
    }
    IdlMethod method;
    int line = Peek().line;
    std::string ret;
    if (!ExpectIdent(&ret, "a return type")) return false;
    if (ret != "HRESULT") return Fail(line, "method must return HRESULT, not '" + ret + "'");
    if (!ExpectIdent(&method.name, "a method name") || !ParseParams(&method) ||
        !Expect(';', "after the method")) {
      return false;
    }
    for (const IdlMethod& m : iface->methods) {
      if (LowerAscii(m.name) == LowerAscii(method.name))
        return Fail(line, "method '" + method.name + "' repeated");
    }
    if (!AttrString(attrs, "helpstring", &method.helpstring)) return false;
    size_t index = iface->methods.size();
    if (const Attr* id = Find(attrs, "id")) {
      int64_t value;
      if (!ParseInt(*id, INT32_MIN, UINT32_MAX, &value)) return false;
      method.id = static_cast<MEMBERID>(static_cast<uint32_t>(value));
      if (!explicit_ids->insert(method.id).second) {
        return Fail(line, "id " + id->arg + " used twice");
      }
    } else {
      method.id = static_cast<MEMBERID>(0x60000000u + (static_cast<uint32_t>(depth) << 16) +
                                        static_cast<uint32_t>(index));
    }
    method.slot = iface->slots++;
    iface->methods.push_back(std::move(method));
    return true;
  }

  // ---- definitions --------------------------------------------------------
  bool ParseInterface(const Attrs& attrs, bool in_library) {
    Take();  // "interface"
    int line = Peek().line;
    std::string name;
    if (!ExpectIdent(&name, "an interface name")) return false;
    if (Accept(';')) {  // a reference (inside the library) or a forward declaration
      if (!attrs.empty()) return Fail(line, "attributes on a reference to '" + name + "'");
      if (in_library) library_refs_.push_back({name, line});
      return true;
    }
    if (known_.count(name)) return Fail(line, "interface '" + name + "' defined twice");
    if (!CheckAttrs(attrs,
                    {"object", "uuid", "dual", "oleautomation", "nonextensible", "helpstring",
                     "pointer_default", "hidden", "version"},
                    {"uuid", "helpstring", "pointer_default", "version"}, "an interface")) {
      return false;
    }
    IdlInterface iface;
    iface.name = name;
    if (!AttrGuid(attrs, name, &iface.iid) || !AttrString(attrs, "helpstring", &iface.helpstring)) {
      return false;
    }
    if (const Attr* p = Find(attrs, "pointer_default")) {
      if (p->arg != "unique" && p->arg != "ref" && p->arg != "ptr") {
        return Fail(p->line, "bad pointer_default '" + p->arg + "'");
      }
    }
    if (!Expect(':', ("after '" + name + "': an interface names its base").c_str())) return false;
    line = Peek().line;
    if (!ExpectIdent(&iface.base, "a base interface")) return false;
    auto base = known_.find(iface.base);
    if (base == known_.end()) return Fail(line, "unknown base interface '" + iface.base + "'");
    bool dispatchable = base->second.depth >= 1 && dispatchable_.count(iface.base);
    if (Find(attrs, "dual")) {
      if (!dispatchable)
        return Fail(line, "dual interface '" + name + "' must derive from IDispatch");
      iface.flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
    }
    if (Find(attrs, "oleautomation")) iface.flags |= TYPEFLAG_FOLEAUTOMATION;
    if (Find(attrs, "nonextensible")) iface.flags |= TYPEFLAG_FNONEXTENSIBLE;
    if (Find(attrs, "hidden")) iface.flags |= TYPEFLAG_FHIDDEN;
    if (dispatchable) iface.flags |= TYPEFLAG_FDISPATCHABLE;
    iface.slots = base->second.slots;
    int depth = base->second.depth + 1;
    if (!Expect('{', "to open the interface body")) return false;
    std::set<MEMBERID> ids;
    while (!IsPunct('}')) {
      if (Peek().kind == Tok::kEnd) return Fail("interface '" + name + "' is not closed");
      if (!ParseMethod(&iface, depth, &ids)) return false;
    }
    Take();
    Accept(';');
    // Default ids must not collide with declared ones.
    std::set<MEMBERID> all;
    for (const IdlMethod& m : iface.methods) {
      if (!all.insert(m.id).second) return Fail(line, "interface '" + name + "' repeats an id");
    }
    known_[name] = KnownBase{iface.slots, depth};
    if (dispatchable) dispatchable_.insert(name);
    defined_.push_back(std::move(iface));
    if (in_library) library_refs_.push_back({name, line});
    return true;
  }

  bool ParseCoclass(const Attrs& attrs) {
    Take();  // "coclass"
    IdlCoclass coclass;
    if (!ExpectIdent(&coclass.name, "a class name")) return false;
    if (!CheckAttrs(attrs, {"uuid", "helpstring", "noncreatable", "hidden"}, {"uuid", "helpstring"},
                    "a coclass") ||
        !AttrGuid(attrs, coclass.name, &coclass.clsid) ||
        !AttrString(attrs, "helpstring", &coclass.helpstring)) {
      return false;
    }
    if (Find(attrs, "noncreatable")) coclass.flags &= ~TYPEFLAG_FCANCREATE;
    if (Find(attrs, "hidden")) coclass.flags |= TYPEFLAG_FHIDDEN;
    if (!Expect('{', "to open the coclass body")) return false;
    while (!Accept('}')) {
      Attrs member;
      if (!ParseAttrs(&member) ||
          !CheckAttrs(member, {"default", "source"}, {}, "an implemented interface")) {
        return false;
      }
      int line = Peek().line;
      if (!IsWord("interface")) return Fail("expected 'interface' in coclass" + Found());
      Take();
      IdlImplemented impl;
      if (!ExpectIdent(&impl.interface, "an interface name") ||
          !Expect(';', "after the interface")) {
        return false;
      }
      if (Find(member, "default")) impl.flags |= IMPLTYPEFLAG_FDEFAULT;
      if (Find(member, "source")) impl.flags |= IMPLTYPEFLAG_FSOURCE;
      coclass_refs_.push_back({impl.interface, line});
      coclass.interfaces.push_back(std::move(impl));
    }
    Accept(';');
    for (const IdlCoclass& c : library_.coclasses) {
      if (c.name == coclass.name) return Fail("coclass '" + coclass.name + "' defined twice");
    }
    library_.coclasses.push_back(std::move(coclass));
    entry_order_.push_back({TKIND_COCLASS, library_.coclasses.size() - 1, {}});
    return true;
  }

  bool ParseLibrary(const Attrs& attrs) {
    int line = Take().line;  // "library"
    if (seen_library_) return Fail(line, "a second library");
    seen_library_ = true;
    if (!ExpectIdent(&library_.name, "a library name")) return false;
    if (!CheckAttrs(attrs, {"uuid", "version", "lcid", "helpstring"},
                    {"uuid", "version", "lcid", "helpstring"}, "a library") ||
        !AttrGuid(attrs, library_.name, &library_.libid) ||
        !AttrVersion(attrs, &library_.major, &library_.minor) ||
        !AttrString(attrs, "helpstring", &library_.helpstring)) {
      return false;
    }
    if (const Attr* lcid = Find(attrs, "lcid")) {
      int64_t value;
      if (!ParseInt(*lcid, 0, UINT32_MAX, &value)) return false;
      library_.lcid = static_cast<LCID>(value);
    }
    if (!Expect('{', "to open the library body")) return false;
    while (!Accept('}')) {
      if (Peek().kind == Tok::kEnd) return Fail("library '" + library_.name + "' is not closed");
      if (Accept(';')) continue;
      if (IsWord("importlib")) {
        Take();
        if (!Expect('(', "after 'importlib'")) return false;
        if (Peek().kind != Tok::kString) return Fail("expected a file name" + Found());
        Take();
        if (!Expect(')', "after the file name") || !Expect(';', "after 'importlib'")) return false;
        continue;
      }
      Attrs item;
      if (!ParseAttrs(&item)) return false;
      if (IsWord("interface")) {
        size_t before = library_refs_.size();
        if (!ParseInterface(item, true)) return false;
        for (size_t i = before; i < library_refs_.size(); ++i) {
          entry_order_.push_back({TKIND_INTERFACE, 0, library_refs_[i].name});
        }
      } else if (IsWord("coclass")) {
        if (!ParseCoclass(item)) return false;
      } else {
        return Fail("expected 'interface' or 'coclass' in the library" + Found());
      }
    }
    Accept(';');
    return true;
  }

  bool ParseFile() {
    known_["IUnknown"] = KnownBase{3, 0};
    known_["IDispatch"] = KnownBase{7, 1};
    dispatchable_.insert("IDispatch");
    while (Peek().kind != Tok::kEnd) {
      if (!error_.empty()) return false;
      if (Accept(';')) continue;
      if (IsWord("import")) {
        Take();
        do {
          if (Peek().kind != Tok::kString) return Fail("expected a file name" + Found());
          Take();
        } while (Accept(','));
        if (!Expect(';', "after 'import'")) return false;
        continue;
      }
      Attrs attrs;
      if (!ParseAttrs(&attrs)) return false;
      if (IsWord("interface")) {
        if (!ParseInterface(attrs, false)) return false;
      } else if (IsWord("library")) {
        if (!ParseLibrary(attrs)) return false;
      } else {
        return Fail("expected 'import', 'interface' or 'library'" + Found());
      }
    }
    if (!error_.empty()) return false;
    if (!seen_library_) return Fail(line_, "no library");
    return true;
  }

  // ---- library contents ---------------------------------------------------
  const IdlInterface* Defined(const std::string& name) {
    for (const IdlInterface& i : defined_) {
      if (i.name == name) return &i;
    }
    return nullptr;
  }

  // Adds an interface (its defined bases first) unless already there.
  void Include(const IdlInterface& iface) {
    for (const IdlInterface& i : library_.interfaces) {
      if (i.name == iface.name) return;
    }
    if (const IdlInterface* base = Defined(iface.base)) Include(*base);
    library_.interfaces.push_back(iface);
    library_.entries.push_back({(iface.flags & TYPEFLAG_FDUAL) ? TKIND_DISPATCH : TKIND_INTERFACE,
                                library_.interfaces.size() - 1});
  }

  bool Finish() {
    for (const auto& ref : library_refs_) {
      if (!Defined(ref.name)) return Fail(ref.line, "unknown interface '" + ref.name + "'");
    }
    for (const auto& ref : coclass_refs_) {
      if (!Defined(ref.name)) return Fail(ref.line, "unknown interface '" + ref.name + "'");
    }
    // Entries in the order the library names them; a class's interfaces
    // come just before the class.
    for (const EntryOrder& e : entry_order_) {
      if (e.kind == TKIND_COCLASS) {
        for (const IdlImplemented& impl : library_.coclasses[e.index].interfaces) {
          Include(*Defined(impl.interface));
        }
        library_.entries.push_back({TKIND_COCLASS, e.index});
      } else {
        Include(*Defined(e.name));
      }
    }
    return true;
  }

  struct Ref {
    std::string name;
    int line;
  };
  struct EntryOrder {
    TYPEKIND kind;
    size_t index;
    std::string name;
  };

  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
  Token next_;
  bool peeked_ = false;
  std::string error_;
  int error_line_ = 0;

  std::map<std::string, KnownBase> known_;
  std::set<std::string> dispatchable_;
  std::vector<IdlInterface> defined_;
  std::vector<Ref> library_refs_;
  std::vector<Ref> coclass_refs_;
  std::vector<EntryOrder> entry_order_;
  bool seen_library_ = false;
  IdlLibrary library_;
};

}  // namespace

IdlParseResult ParseIdl(std::string_view text) { return Parser(text).Run(); }
