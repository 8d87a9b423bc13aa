%code {
// Grammar and tree-building actions of the script language.
#include <bit>
#include <cstdlib>
#include <cstring>

#include "gscompiler/Constants.h"
#include "gscompiler/Parser.h"
#include "gscompiler/Scanner.h"
#include "Vak/Bexlorn/CodePage.h"

namespace GSCompiler {
namespace {

// The parser's own texts, in the words this compiler reports.
const char* ParserText(const char* text) {
  if (std::strcmp(text, "syntax error") == 0) return "parse error";
  if (std::strcmp(text, "memory exhausted") == 0) return "parser stack overflow";
  return text;
}

int TokenLine() { return gCurrentScanner != nullptr ? gCurrentScanner->Line() : 0; }
const char* TokenText() { return gCurrentScanner != nullptr ? gCurrentScanner->Text() : ""; }

void ReportSyntax(const char* message) {
  if (gCurrentScanner == nullptr) {
    ReportError(gCurrentUnit, true, false, 0, "%s", message);
  } else {
    ReportError(gCurrentUnit, true, false, TokenLine(), "%s, line %d", message, TokenLine());
  }
}

SyntaxNode* NewNode(NodeClass nodeClass, int32_t kind, int32_t subKind = -1) {
  auto* node = static_cast<SyntaxNode*>(gCurrentUnit->pool.Allocate());
  std::memset(static_cast<void*>(node), 0, sizeof(SyntaxNode));
  node->nodeClass = nodeClass;
  node->kind = kind;
  node->subKind = subKind;
  node->line = TokenLine();
  node->type = kTypeNone;
  return node;
}
SyntaxNode* WithChildren(SyntaxNode* node, SyntaxNode* c1, SyntaxNode* c2 = nullptr, SyntaxNode* c3 = nullptr,
                         SyntaxNode* c4 = nullptr) {
  node->child[0] = c1;
  node->child[1] = c2;
  node->child[2] = c3;
  node->child[3] = c4;
  return node;
}
SyntaxNode* Decl(int32_t kind, int32_t subKind = -1) { return NewNode(NodeClass::Declaration, kind, subKind); }
SyntaxNode* Stmt(int32_t kind, SyntaxNode* c1 = nullptr, SyntaxNode* c2 = nullptr, SyntaxNode* c3 = nullptr,
                 SyntaxNode* c4 = nullptr) {
  return WithChildren(NewNode(NodeClass::Statement, kind), c1, c2, c3, c4);
}
SyntaxNode* Expr(int32_t kind, int32_t subKind = -1) { return NewNode(NodeClass::Expression, kind, subKind); }
SyntaxNode* Op(int32_t code, SyntaxNode* c1, SyntaxNode* c2 = nullptr, SyntaxNode* c3 = nullptr) {
  return WithChildren(Expr(kExprOperator, code), c1, c2, c3);
}

// A node's text lives in the unit's frames, which cannot hold a text of a
// frame's size or more; such a node is not made (null).
SyntaxNode* TextNode(SyntaxNode* node, const char* text) {
  node->text = gCurrentUnit->pool.Frames().StrDup(text);
  return node->text != nullptr ? node : nullptr;
}

SyntaxNode* AsName(SyntaxNode* identifier) {
  identifier->nodeClass = NodeClass::Declaration;
  identifier->kind = kDeclName;
  return identifier;
}

SyntaxNode* ChainEnd(SyntaxNode* node) {
  while (node->next != nullptr) node = node->next;
  return node;
}

// Lists keep their last node, so appending does not walk the whole chain.
ParseValue List(SyntaxNode* first) {
  ParseValue list{};
  list.node = first;
  list.tail = first != nullptr ? ChainEnd(first) : nullptr;
  return list;
}
ParseValue Append(ParseValue list, SyntaxNode* element) {
  if (element == nullptr) return list;
  if (list.node == nullptr) return List(element);
  list.tail->next = element;
  list.tail = ChainEnd(element);
  return list;
}

void MarkUnused(SyntaxNode* chain) {
  for (; chain != nullptr; chain = chain->next) chain->flags |= kMarkUnusedValue;
}

SyntaxNode* Body(SyntaxNode* compound) {
  compound->flags |= kMarkFunctionBody;
  return compound;
}

SyntaxNode* Specified(SyntaxNode* declaration, uint32_t specifiers) {
  declaration->flags |= specifiers;
  return declaration;
}

SyntaxNode* ClassDecl(uint32_t specifiers, SyntaxNode* name, SyntaxNode* bases, SyntaxNode* members) {
  SyntaxNode* node = WithChildren(Decl(kDeclClass), AsName(name), bases, members);
  node->flags = specifiers;
  return node;
}

SyntaxNode* TypeNode(int32_t code) { return Decl(kDeclType, code); }
SyntaxNode* ClassType(SyntaxNode* identifier, bool array) {
  SyntaxNode* type = TypeNode(array ? kTypeObjectArray : kTypeObject);
  type->child[0] = AsName(identifier);
  return type;
}
SyntaxNode* ArrayOf(SyntaxNode* type) {
  type->subKind += kArrayOffset;
  return type;
}

SyntaxNode* IntConstant(int32_t value) {
  SyntaxNode* node = Expr(kExprConstant, kConstInt);
  node->number = value;
  return node;
}

} // namespace
} // namespace GSCompiler

using namespace GSCompiler;

#define YY_(Msgid) ParserText(Msgid)
static int gslex();
static void gserror(const char* message);

// A node whose text could not be kept ends the parse as the syntax error of
// its line.
#define NEED(node)                     \
  do {                                 \
    if ((node) == nullptr) {           \
      gserror(YY_("syntax error"));    \
      YYABORT;                         \
    }                                  \
  } while (0)
}

%code requires {
#include <cstdint>
// The value is a plain record. Compiled as C++, the parser stack grows past
// its first 200 states only when this is set; bison sets it too for a value
// type given by api.value.type, but the parser must not depend on that.
#define GSSTYPE_IS_TRIVIAL 1
namespace GSCompiler {
struct SyntaxNode;
// A rule's value: a node, or a list as its first and last node, or the
// specifier bits of a declaration.
struct ParseValue {
  SyntaxNode* node;
  SyntaxNode* tail;
  uint32_t flags;
};
} // namespace GSCompiler
}

%define api.prefix {gs}
%define api.value.type {GSCompiler::ParseValue}

%token KEYWORD_BREAK KEYWORD_CASE KEYWORD_CONTINUE KEYWORD_DEFAULT KEYWORD_ELSE KEYWORD_FOR
%token KEYWORD_GOTO KEYWORD_IF KEYWORD_NULL KEYWORD_RETURN KEYWORD_SWITCH KEYWORD_WHILE
%token KEYWORD_AND KEYWORD_OR KEYWORD_TRUE KEYWORD_FALSE KEYWORD_VOID KEYWORD_BOOL KEYWORD_INT
%token KEYWORD_FLOAT KEYWORD_STRING KEYWORD_OBJECT KEYWORD_CLASS KEYWORD_INCLUDE KEYWORD_DEFINE
%token KEYWORD_STATIC KEYWORD_PUBLIC KEYWORD_NATIVE KEYWORD_FINAL KEYWORD_THREAD KEYWORD_GAME
%token KEYWORD_SIZE KEYWORD_ISCLASS KEYWORD_COPY KEYWORD_NEW KEYWORD_ME KEYWORD_CAST KEYWORD_WAIT
%token KEYWORD_ON
%token IDENTIFIER CONSTANT_HEX CONSTANT_INT CONSTANT_CHAR CONSTANT_FLOAT CONSTANT_STRING
%token SYMBOL_OP_DIM SYMBOL_RIGHT_SHIFT SYMBOL_LEFT_SHIFT SYMBOL_INC SYMBOL_DEC SYMBOL_LTE
%token SYMBOL_GTE SYMBOL_EQ SYMBOL_NEQ
/* What the scanner answers for a character no rule expects; no rule uses it. */
%token SYMBOL_UNKNOWN

/* The dangling else binds to the nearest if. */
%expect 1

%start program

%%

program
  : include_list class_declaration_list  { $1.tail->next = $2.node; gCurrentUnit->tree = $1.node; }
  | class_declaration_list               { gCurrentUnit->tree = $1.node; }
  ;

include_list
  : include_declaration                  { $$ = List($1.node); }
  | include_list include_declaration     { $$ = Append($1, $2.node); }
  ;

include_declaration
  : KEYWORD_INCLUDE include_file         { $$.node = WithChildren(Decl(kDeclInclude), $2.node); }
  ;

include_file
  : CONSTANT_STRING {
      char* name = const_cast<char*>(UnquoteString(TokenText(), false));
      for (char* c = name; *c != '\0'; ++c) *c = Vak::CodePage::AsciiLower(*c);
      $$.node = TextNode(Decl(kDeclName), name);
      NEED($$.node);
    }
  ;

class_declaration_list
  : class_declaration                            { $$ = List($1.node); }
  | class_declaration_list class_declaration     { $$ = Append($1, $2.node); }
  ;

class_declaration
  : KEYWORD_CLASS identifier '{' '}' ';'                                                   { $$.node = ClassDecl(0, $2.node, nullptr, nullptr); }
  | KEYWORD_CLASS identifier KEYWORD_ISCLASS class_list '{' '}' ';'                        { $$.node = ClassDecl(0, $2.node, $4.node, nullptr); }
  | declaration_specifiers KEYWORD_CLASS identifier '{' '}' ';'                            { $$.node = ClassDecl($1.flags, $3.node, nullptr, nullptr); }
  | declaration_specifiers KEYWORD_CLASS identifier KEYWORD_ISCLASS class_list '{' '}' ';' { $$.node = ClassDecl($1.flags, $3.node, $5.node, nullptr); }
  | KEYWORD_CLASS identifier '{' declaration_list '}' ';'                                  { $$.node = ClassDecl(0, $2.node, nullptr, $4.node); }
  | KEYWORD_CLASS identifier KEYWORD_ISCLASS class_list '{' declaration_list '}' ';'       { $$.node = ClassDecl(0, $2.node, $4.node, $6.node); }
  | declaration_specifiers KEYWORD_CLASS identifier '{' declaration_list '}' ';'           { $$.node = ClassDecl($1.flags, $3.node, nullptr, $5.node); }
  | declaration_specifiers KEYWORD_CLASS identifier KEYWORD_ISCLASS class_list '{' declaration_list '}' ';'
                                                                                           { $$.node = ClassDecl($1.flags, $3.node, $5.node, $7.node); }
  ;

class_list
  : identifier                   { $$ = List(AsName($1.node)); }
  | class_list ',' identifier    { $$ = Append($1, AsName($3.node)); }
  ;

declaration_list
  : declaration                      { $$ = List($1.node); }
  | declaration_list declaration     { $$ = Append($1, $2.node); }
  ;

declaration
  : function_declaration                                     { $$ = $1; }
  | function_prototype_declaration                           { $$ = $1; }
  | variable_declaration_list                                { $$.node = Specified($1.node, kMarkMember); }
  | declaration_specifiers function_declaration              { $$.node = Specified($2.node, $1.flags); }
  | declaration_specifiers function_prototype_declaration    { $$.node = Specified($2.node, $1.flags); }
  | declaration_specifiers variable_declaration_list         { $$.node = Specified($2.node, $1.flags | kMarkMember); }
  ;

declaration_specifiers
  : declaration_specifier                           { $$.flags = $1.flags; }
  | declaration_specifiers declaration_specifier    { $$.flags = $1.flags | $2.flags; }
  ;

declaration_specifier
  : KEYWORD_PUBLIC    { $$.flags = kSpecPublic; }
  | KEYWORD_NATIVE    { $$.flags = kSpecNative; }
  | KEYWORD_FINAL     { $$.flags = kSpecFinal; }
  | KEYWORD_THREAD    { $$.flags = kSpecThread; }
  | KEYWORD_STATIC    { $$.flags = kSpecStatic; }
  | KEYWORD_GAME      { $$.flags = kSpecGame; }
  | KEYWORD_DEFINE    { $$.flags = kSpecDefine; }
  ;

function_prototype_declaration
  : type_specifier identifier '(' ')' ';'                  { $$.node = WithChildren(Decl(kDeclPrototype), $1.node, AsName($2.node)); }
  | type_specifier identifier '(' KEYWORD_VOID ')' ';'     { $$.node = WithChildren(Decl(kDeclPrototype), $1.node, AsName($2.node)); }
  | type_specifier identifier '(' parameter_list ')' ';'   { $$.node = WithChildren(Decl(kDeclPrototype), $1.node, AsName($2.node), $4.node); }
  ;

function_declaration
  : type_specifier identifier '(' ')' compound_statement
      { $$.node = WithChildren(Decl(kDeclFunction), $1.node, AsName($2.node), nullptr, Body($5.node)); }
  | type_specifier identifier '(' KEYWORD_VOID ')' compound_statement
      { $$.node = WithChildren(Decl(kDeclFunction), $1.node, AsName($2.node), nullptr, Body($6.node)); }
  | type_specifier identifier '(' parameter_list ')' compound_statement
      { $$.node = WithChildren(Decl(kDeclFunction), $1.node, AsName($2.node), $4.node, Body($6.node)); }
  ;

variable_declaration_list
  : type_specifier declarator_list ';'    { $$.node = WithChildren(Decl(kDeclVariableList), $1.node, $2.node); }
  ;

declarator_list
  : declarator                        { $$ = List($1.node); }
  | declarator_list ',' declarator    { $$ = Append($1, $3.node); }
  ;

declarator
  : identifier                              { $$.node = WithChildren(Decl(kDeclDeclarator), AsName($1.node)); }
  | identifier '=' constant_expression      { $$.node = WithChildren(Decl(kDeclDeclarator), AsName($1.node), $3.node); }
  ;

type_specifier
  : primitive_type                    { $$ = $1; }
  | primitive_type SYMBOL_OP_DIM      { $$.node = ArrayOf($1.node); }
  | identifier                        { $$.node = ClassType($1.node, false); }
  | identifier SYMBOL_OP_DIM          { $$.node = ClassType($1.node, true); }
  ;

primitive_type
  : KEYWORD_VOID      { $$.node = TypeNode(kTypeVoid); }
  | KEYWORD_BOOL      { $$.node = TypeNode(kTypeBool); }
  | KEYWORD_INT       { $$.node = TypeNode(kTypeInt); }
  | KEYWORD_FLOAT     { $$.node = TypeNode(kTypeFloat); }
  | KEYWORD_STRING    { $$.node = TypeNode(kTypeString); }
  | KEYWORD_OBJECT    { $$.node = TypeNode(kTypeObject); }
  ;

parameter_list
  : parameter                       { $$ = List($1.node); }
  | parameter_list ',' parameter    { $$ = Append($1, $3.node); }
  ;

parameter
  : type_specifier identifier    { $$.node = WithChildren(Decl(kDeclParameter), $1.node, AsName($2.node)); }
  ;

compound_statement
  : '{' '}'                    { $$.node = Stmt(kStmtCompound); }
  | '{' statement_list '}'     { $$.node = Stmt(kStmtCompound, $2.node); }
  ;

statement_list
  : statement                     { $$ = List($1.node); }
  | statement_list statement      { $$ = Append($1, $2.node); }
  ;

statement
  : variable_declaration_list    { $$ = $1; }
  | labeled_statement            { $$ = $1; }
  | compound_statement           { $$ = $1; }
  | expression_statement         { $$ = $1; MarkUnused($$.node); }
  | selection_statement          { $$ = $1; }
  | iteration_statement          { $$ = $1; }
  | jump_statement               { $$ = $1; }
  ;

labeled_statement
  : identifier ':' statement
      { $$.node = Stmt(kStmtLabel, AsName($1.node)); $$.node->next = $3.node; }
  | KEYWORD_CASE constant_expression ':' statement
      { $$.node = Stmt(kStmtCase, $2.node); $$.node->next = $4.node; }
  | KEYWORD_DEFAULT ':' statement
      { $$.node = Stmt(kStmtDefault); $$.node->next = $3.node; }
  | KEYWORD_ON constant ',' constant ':' statement
      { $$.node = Stmt(kStmtOn, $2.node, $4.node); $$.node->next = $6.node; }
  | KEYWORD_ON constant ',' constant ',' unary_expression ':' statement
      { $$.node = Stmt(kStmtOn, $2.node, $4.node, $6.node); $$.node->next = $8.node; }
  ;

expression_statement
  : ';'               { $$.node = nullptr; }
  | expression ';'    { $$ = $1; }
  ;

selection_statement
  : KEYWORD_IF '(' expression ')' statement                           { $$.node = Stmt(kStmtIf, $3.node, $5.node); }
  | KEYWORD_IF '(' expression ')' statement KEYWORD_ELSE statement    { $$.node = Stmt(kStmtIf, $3.node, $5.node, $7.node); }
  | KEYWORD_SWITCH '(' expression ')' compound_statement              { $$.node = Stmt(kStmtSwitch, $3.node, $5.node); }
  | KEYWORD_WAIT '(' ')' compound_statement                           { $$.node = Stmt(kStmtWait, $4.node); }
  ;

iteration_statement
  : KEYWORD_WHILE '(' expression ')' statement
      { $$.node = Stmt(kStmtWhile, $3.node, $5.node); }
  | KEYWORD_FOR '(' expression_statement expression_statement ')' statement
      { MarkUnused($3.node); $$.node = Stmt(kStmtFor, $3.node, $4.node, $6.node); }
  | KEYWORD_FOR '(' expression_statement expression_statement expression ')' statement
      { MarkUnused($3.node); MarkUnused($5.node); $$.node = Stmt(kStmtFor, $3.node, $4.node, $7.node, $5.node); }
  ;

jump_statement
  : KEYWORD_GOTO identifier ';'         { $$.node = Stmt(kStmtGoto, AsName($2.node)); }
  | KEYWORD_CONTINUE ';'                { $$.node = Stmt(kStmtContinue); }
  | KEYWORD_BREAK ';'                   { $$.node = Stmt(kStmtBreak); }
  | KEYWORD_RETURN ';'                  { $$.node = Stmt(kStmtReturn); }
  | KEYWORD_RETURN expression ';'       { $$.node = Stmt(kStmtReturn, $2.node); }
  ;

constant_expression
  : logical_or_expression    { $$ = $1; }
  ;

expression
  : assignment_expression                   { $$ = List($1.node); }
  | expression ',' assignment_expression    { $$ = Append($1, $3.node); }
  ;

assignment_expression
  : logical_or_expression                           { $$ = $1; }
  | unary_expression '=' assignment_expression      { $$.node = Op(kOpAssign, $1.node, $3.node); }
  ;

logical_or_expression
  : logical_and_expression                                   { $$ = $1; }
  | logical_or_expression KEYWORD_OR logical_and_expression  { $$.node = Op(kOpLogicalOr, $1.node, $3.node); }
  ;

logical_and_expression
  : inclusive_or_expression                                     { $$ = $1; }
  | logical_and_expression KEYWORD_AND inclusive_or_expression  { $$.node = Op(kOpLogicalAnd, $1.node, $3.node); }
  ;

inclusive_or_expression
  : exclusive_or_expression                               { $$ = $1; }
  | inclusive_or_expression '|' exclusive_or_expression   { $$.node = Op(kOpOr, $1.node, $3.node); }
  ;

exclusive_or_expression
  : and_expression                                { $$ = $1; }
  | exclusive_or_expression '^' and_expression    { $$.node = Op(kOpXor, $1.node, $3.node); }
  ;

and_expression
  : equality_expression                       { $$ = $1; }
  | and_expression '&' equality_expression    { $$.node = Op(kOpAnd, $1.node, $3.node); }
  ;

equality_expression
  : relational_expression                                 { $$ = $1; }
  | equality_expression SYMBOL_EQ relational_expression   { $$.node = Op(kOpEqual, $1.node, $3.node); }
  | equality_expression SYMBOL_NEQ relational_expression  { $$.node = Op(kOpNotEqual, $1.node, $3.node); }
  ;

relational_expression
  : shift_expression                                   { $$ = $1; }
  | relational_expression '<' shift_expression         { $$.node = Op(kOpLess, $1.node, $3.node); }
  | relational_expression '>' shift_expression         { $$.node = Op(kOpGreater, $1.node, $3.node); }
  | relational_expression SYMBOL_LTE shift_expression  { $$.node = Op(kOpLessEqual, $1.node, $3.node); }
  | relational_expression SYMBOL_GTE shift_expression  { $$.node = Op(kOpGreaterEqual, $1.node, $3.node); }
  ;

shift_expression
  : additive_expression                                       { $$ = $1; }
  | shift_expression SYMBOL_LEFT_SHIFT additive_expression    { $$.node = Op(kOpShiftLeft, $1.node, $3.node); }
  | shift_expression SYMBOL_RIGHT_SHIFT additive_expression   { $$.node = Op(kOpShiftRight, $1.node, $3.node); }
  ;

additive_expression
  : multiplicative_expression                          { $$ = $1; }
  | additive_expression '+' multiplicative_expression  { $$.node = Op(kOpAdd, $1.node, $3.node); }
  | additive_expression '-' multiplicative_expression  { $$.node = Op(kOpSub, $1.node, $3.node); }
  ;

multiplicative_expression
  : cast_expression                                  { $$ = $1; }
  | multiplicative_expression '*' cast_expression    { $$.node = Op(kOpMul, $1.node, $3.node); }
  | multiplicative_expression '/' cast_expression    { $$.node = Op(kOpDiv, $1.node, $3.node); }
  | multiplicative_expression '%' cast_expression    { $$.node = Op(kOpMod, $1.node, $3.node); }
  ;

cast_expression
  : unary_expression                                            { $$ = $1; }
  | '(' primitive_type ')' cast_expression                      { $$.node = Op(kOpCast, $4.node, $2.node); }
  | '(' primitive_type SYMBOL_OP_DIM ')' cast_expression        { $$.node = Op(kOpCast, $5.node, ArrayOf($2.node)); }
  | KEYWORD_CAST '<' type_specifier '>' cast_expression         { $$.node = Op(kOpCast, $5.node, $3.node); }
  ;

unary_expression
  : postfix_expression                    { $$ = $1; }
  | SYMBOL_INC unary_expression           { $$.node = Op(kOpPreInc, $2.node); }
  | SYMBOL_DEC unary_expression           { $$.node = Op(kOpPreDec, $2.node); }
  | unary_operator cast_expression        { $$.node = Op($1.flags, $2.node); }
  ;

unary_operator
  : '+'    { $$.flags = kOpPlus; }
  | '-'    { $$.flags = kOpMinus; }
  | '~'    { $$.flags = kOpComplement; }
  | '!'    { $$.flags = kOpNot; }
  ;

postfix_expression
  : primary_expression
      { $$ = $1; }
  | postfix_expression '[' ',' assignment_expression ']'
      { $$.node = Op(kOpRange, $1.node, nullptr, $4.node); }
  | postfix_expression '[' assignment_expression ',' ']'
      { $$.node = Op(kOpRange, $1.node, $3.node, nullptr); }
  | postfix_expression '[' assignment_expression ',' assignment_expression ']'
      { $$.node = Op(kOpRange, $1.node, $3.node, $5.node); }
  | postfix_expression '[' assignment_expression ']'
      { $$.node = Op(kOpIndex, $1.node, $3.node); }
  | postfix_expression '(' ')'
      { $$.node = WithChildren(Expr(kExprCall), $1.node); }
  | postfix_expression '(' argument_expression_list ')'
      { $$.node = WithChildren(Expr(kExprCall), $1.node, $3.node); }
  | postfix_expression '.' identifier
      { $3.node->kind = kExprMemberName; $$.node = Op(kOpMember, $1.node, $3.node); }
  | postfix_expression SYMBOL_INC
      { $$.node = Op(kOpPostInc, $1.node); }
  | postfix_expression SYMBOL_DEC
      { $$.node = Op(kOpPostDec, $1.node); }
  | postfix_expression '.' KEYWORD_SIZE '(' ')'
      { $$.node = Op(kOpSize, $1.node); }
  | postfix_expression '.' KEYWORD_ISCLASS '(' identifier ')'
      { $$.node = Op(kOpIsClass, $1.node, AsName($5.node)); }
  | postfix_expression '.' KEYWORD_COPY '(' assignment_expression ')'
      { $$.node = Op(kOpCopy, $1.node, $5.node); }
  ;

argument_expression_list
  : assignment_expression                                { $$ = List($1.node); }
  | argument_expression_list ',' assignment_expression   { $$ = Append($1, $3.node); }
  ;

primary_expression
  : identifier            { $$ = $1; }
  | KEYWORD_ME            { $$.node = Expr(kExprMe); }
  | KEYWORD_NULL          { $$.node = Expr(kExprNull); }
  | constant              { $$ = $1; }
  | new_expression        { $$ = $1; }
  | '(' expression ')'    { $$.node = $2.node; }
  ;

/* The element-count form makes an array of the type. */
new_expression
  : KEYWORD_NEW primitive_type '(' ')'                            { $$.node = Op(kOpNew, $2.node); }
  | KEYWORD_NEW primitive_type '(' argument_expression_list ')'   { $$.node = Op(kOpNew, $2.node, $4.node); }
  | KEYWORD_NEW primitive_type '[' expression ']'                 { $$.node = Op(kOpNew, ArrayOf($2.node), $4.node); }
  | KEYWORD_NEW identifier '(' ')'                                { $$.node = Op(kOpNew, ClassType($2.node, false)); }
  | KEYWORD_NEW identifier '(' argument_expression_list ')'       { $$.node = Op(kOpNew, ClassType($2.node, false), $4.node); }
  | KEYWORD_NEW identifier '[' expression ']'                     { $$.node = Op(kOpNew, ClassType($2.node, true), $4.node); }
  ;

identifier
  : IDENTIFIER    { $$.node = TextNode(Expr(kExprIdentifier), TokenText()); NEED($$.node); }
  ;

constant
  : CONSTANT_HEX      { $$.node = IntConstant(HexConstant(TokenText())); }
  | CONSTANT_INT      { $$.node = IntConstant(DecimalConstant(TokenText())); }
  | CONSTANT_CHAR     { $$.node = IntConstant(UnquoteString(TokenText(), true)[0]); }
  | CONSTANT_FLOAT
      {
        $$.node = Expr(kExprConstant, kConstFloat);
        $$.node->number = std::bit_cast<int32_t>(FloatConstant(TokenText()));
      }
  | CONSTANT_STRING
      {
        $$.node = TextNode(Expr(kExprConstant, kConstString), UnquoteString(TokenText(), true));
        NEED($$.node);
      }
  | KEYWORD_TRUE      { $$.node = Expr(kExprConstant, kConstBool); $$.node->number = 1; }
  | KEYWORD_FALSE     { $$.node = Expr(kExprConstant, kConstBool); $$.node->number = 0; }
  ;

%%

static int gslex() { return gCurrentScanner != nullptr ? gCurrentScanner->Next() : 0; }

static void gserror(const char* message) { ReportSyntax(message); }

namespace GSCompiler {

static_assert(YYINITDEPTH == kParserInitialDepth && YYMAXDEPTH == kParserMaxDepth);
// The language's 169 rules and bison's start rule.
static_assert(YYNRULES == 170);

int Parse() { return gCurrentUnit != nullptr ? gsparse() : 1; }

int ParseText(CompileUnit& unit, const char* text, std::size_t length) {
  ScriptScanner scanner(text, length);
  // Cleared also when the pool's allocator throws.
  struct Current {
    Current(ScriptScanner* scanner, CompileUnit* unit) {
      gCurrentScanner = scanner;
      gCurrentUnit = unit;
    }
    ~Current() {
      gCurrentScanner = nullptr;
      gCurrentUnit = nullptr;
    }
  } current(&scanner, &unit);
  return Parse();
}

} // namespace GSCompiler
