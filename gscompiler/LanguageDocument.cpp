#include "gscompiler/Driver.h"

namespace GSCompiler {

namespace {

// What -d prints: the language, the compiler's switches, and an example.
const char kDocument[] =
R"doc(VozoVavuri Language and Compiler Reference
==========================================

Compiler version 1.02


1. Introduction
---------------

VozoVavuri is a small, statically typed, class based scripting language. It
was made for describing the behaviour of things that live inside a running
simulation: a vehicle that answers a signal, a building whose lights follow
the time of day, a controller that waits for a message and reacts to it. A
script is compiled ahead of time into a library file, and the runtime loads
that library together with the libraries of every script it includes.

The language borrows the look of the C family: braces group statements,
semicolons end them, expressions use the familiar operators, and a class is
written as a list of member variables and member functions. It leaves out
much of what makes those languages large. There are no pointers and no
pointer arithmetic, no header files, no preprocessor, no templates, no
operator overloading, no exceptions and no user-defined constructors. Memory
that holds objects and arrays is owned by the runtime and reclaimed by it;
a script only creates objects and lets go of them.

What the language adds is a way to wait. A function that runs as a thread
can suspend itself in a wait statement until one of a list of messages
arrives, and then continue with the handler of that message. This is the
heart of most scripts: they spend nearly all of their time waiting, wake up
for a moment, change something, and wait again.

This document describes the language as the compiler accepts it, the
compiler and its switches, and how to put the pieces together. The grammar
given near the end of the language chapter is the authority where the prose
is loose. Some parts of the system are not described here; their sections
are kept so that the numbering stays stable.

Conventions used in this document:

  - Text in a box of dashes, or indented by four blanks, is a piece of
    source text or a command line, written exactly as it would be typed.
  - Words in capital letters in the grammar (IDENTIFIER, CONSTANT_INT and
    so on) name kinds of tokens; words in lower case with underscores name
    rules of the grammar.
  - "The compiler refuses" means that the compiler reports an error, the
    library is not written and the compiler's result counts the error.


2. The language
---------------

2.1 Source text

A VozoVavuri source is a plain text file, usually with the extension ".gs".
The compiler reads it byte by byte; it does not interpret any character set
beyond the letters, digits and punctuation listed in this chapter. Bytes
outside those sets may appear inside comments and string constants, where
they are kept as they are. Anywhere else an unexpected character stops the
compilation of the script with a parse error.

Line breaks separate lines for the purpose of error messages: every line
feed character counts one line, whether it stands between tokens, inside a
comment or inside a string constant. Carriage returns are white space and
do not count, so files written with either convention of line endings give
the same line numbers.

Blanks, tabs, line feeds, carriage returns, vertical tabs and form feeds
are white space. White space separates tokens and is otherwise ignored;
the language attaches no meaning to indentation.

A script can also be kept in a packed form with the extension ".gse". The
packed form holds the same text, compressed and scrambled, so that a script
can be handed out without showing its source. The compiler reads both forms
alike (see chapter 3), and the "encrypt" command of the content utility
makes the packed form from a plain one.


2.2 Comments

There are two kinds of comments.

A line comment starts with two slashes and runs to the end of the line.
The line break itself is not part of the comment.

    int count;   // how many cars are attached

A block comment starts with a slash and an asterisk and ends with the next
asterisk and slash. It may span any number of lines, and the lines inside
it are counted. Block comments do not nest: the first closing mark ends
the comment, whatever opened in between.

    /* The signal box keeps one entry per lever.
       Levers are numbered from 0. */

A block comment that is never closed runs to the end of the file. The
compiler does not complain about it, but everything after the opening mark
is lost, which usually leads to a parse error elsewhere, or to a script
that silently misses its last classes.

Comment marks inside a string constant are part of the string, and a
string quote inside a comment is part of the comment. Two back-slashes do
not start a comment.


2.3 Keywords

The following 39 words are reserved. They are written in lower case and
case matters: "Break" or "WHILE" are ordinary identifiers, although using
them as such makes a script hard to read.

    break      case       continue   default    else
    for        goto       if         null       return
    switch     while      and        or         true
    false      void       bool       int        float
    string     object     class      include    define
    static     public     native     final      thread
    game       size       isclass    copy       new
    me         cast       wait       on

Grouped by purpose:

  - Control flow: if, else, switch, case, default, while, for, break,
    continue, goto, return, wait, on.
  - Types: void, bool, int, float, string, object.
  - Constants: true, false, null.
  - Declarations: class, include, isclass (in a class header), and the
    specifiers define, static, public, native, final, thread, game.
  - Operators written as words: and, or, size, isclass, copy, new, cast.
  - The current object: me.

There is no "&&" and no "||" in the language. The logical operators are the
words "and" and "or"; "&" and "|" are the bitwise operators on integers.

The word "inherited" is not a keyword. It is an ordinary identifier that
the compiler gives a meaning when it is called like a function inside a
member function (see 2.10).


2.4 Identifiers

An identifier names a class, a member, a function, a parameter, a local
variable or a label. It starts with a letter or an underscore and goes on
with letters, digits and underscores. The letters are the twenty-six
letters of the English alphabet in both cases; other characters are not
letters to the compiler.

    speed   _count   Train2   max_load   MessageHandler

Identifiers are case sensitive: "speed", "Speed" and "SPEED" are three
different names. An identifier has no length limit of its own, but the
compiler keeps every name in a buffer of 2048 bytes; a longer name is
refused as a syntax error of its line.

A keyword cannot be used as an identifier. Names that differ from a
keyword only in case are allowed.


2.5 Constants

2.5.1 Integer constants

A decimal integer constant is a sequence of digits. A hexadecimal constant
starts with "0x" or "0X" followed by one or more of the digits 0 to 9 and
the letters a to f in either case.

    0   17   65535   0x1F   0XFF00

Integers are 32 bits wide and signed. A constant whose value does not fit
is held at the limit, 2147483647. There are no negative constants as such:
"-5" is the unary minus operator applied to 5, which the compiler folds into
a constant value at compile time.

A few texts look like constants but are not:

  - "0x" alone is the integer 0 followed by the identifier x.
  - "1e5" is the integer 1 followed by the identifier e5; there is no
    exponent notation.
  - "017" is the decimal number 17; a leading zero does not mean octal.

2.5.2 Floating-point constants

A floating-point constant has a decimal point with digits on at least one
side of it, and may end in a lower-case "f", which changes nothing.

    1.5   0.25   .5   3.   2.0f

Values are single precision (32 bits). A text with more digits than a
single-precision number can hold is rounded to the nearest value that fits.
An upper-case "F" is not part of the constant: "5.5F" is the float 5.5
followed by the identifier F, which is a syntax error in most places.

2.5.3 Character constants

A character constant is written between single quotes and stands for an
integer: the code of its first character.

    'a'   'Z'   '\n'   '\''

Escapes are those of string constants (below). A constant with several
characters, such as 'ab', has the value of its first character. Two single
quotes with nothing between them are not a constant at all and lead to a
parse error. An "L" in front of the opening quote is allowed and ignored.

2.5.4 String constants

A string constant is written between double quotes.

    "hello"   "Line one\nLine two"   ""

A string may contain any character except an unescaped double quote, and it
may run over several lines; the line breaks become part of the text. A
back-slash starts an escape:

    \\    back-slash
    \n    line feed (10)
    \t    tab (9)
    \v    vertical tab (11)
    \r    carriage return (13)
    \f    form feed (12)
    \b    back-space (8)
    \a    bell (7)
    \'    single quote
    \"    double quote
    \0    ends the text at this point

A back-slash before any other character gives that character, so "\q" is
the same as "q". A back-slash before a line break inside a string does not
join the lines: the line break is kept. The text of a string constant is
limited to 2047 characters; anything beyond is cut off. An "L" in front of
the opening quote is allowed and ignored.

2.5.5 Boolean and null constants

"true" and "false" are the two values of the type bool. "null" is the
value of an object or array variable that refers to nothing, and of a
string that holds no text.


2.6 Types

Every variable, parameter, function result and expression has a type.
There are six basic types:

    void     no value; only as the result type of a function
    bool     true or false
    int      32-bit signed integer
    float    32-bit floating-point number
    string   text
    object   a reference to an instance of a class, or null

An object type is usually written with a class name instead of the word
"object": a variable of type "Train" can hold a reference to a Train or to
an instance of any class derived from Train. The word "object" alone is a
reference to an instance of any class.

    Train    current;   // a Train, or a class derived from it
    object   anything;  // an instance of any class

Each type except void can be made into an array type by writing "[]"
after it. The brackets may have white space, even line breaks, between
them.

    int[]      counts;
    string[]   names;
    Train[]    fleet;

An array is a reference, like an object: a variable of array type starts
out as null and receives an array from "new" or from another array. The
elements of an array are numbered from 0; the number of elements is given
by the "size" operator. There are no arrays of arrays.

The compiler's own numbering of the types appears in some of its messages
when a type has no proper name: there is a type "null" for the constant
null before it is assigned, and a type with an empty name for expressions
that have no type at all.

Conversions between types happen in these places only:

  - In an assignment, and in the initial value of a variable: bool, int
    and float values can be assigned to bool, int and float targets, and
    the value is converted. A string target accepts bool, int, float and
    string values, which are turned into their text. An object target
    accepts null and objects of its class or of a derived class.
  - In arithmetic: an int combined with a float gives a float.
  - With "+": when either side is a string, the other side (bool, int,
    float or string) is turned into text and the two are joined.
  - In an explicit cast (see 2.7.9).

There are no conversions when a function is called: every argument must
have exactly the type of its parameter, except that null may be passed for
any object parameter. Where a conversion is wanted, write a cast.
)doc"
R"doc(

2.7 Operators and expressions

Expressions are built from constants, names, calls and operators. The table
lists the operators from the tightest binding to the loosest. Operators on
the same line bind equally; binary operators of one level group from left
to right, except assignment, which groups from right to left.

    postfix         x[i]  x[a,b]  f(...)  x.m  x++  x--
                    x.size()  x.isclass(C)  x.copy(y)
    prefix          ++x  --x  +x  -x  ~x  !x
    cast            (int)x  (float[])x  cast<Train>x
    multiplicative  *  /  %
    additive        +  -
    shift           <<  >>
    relational      <  >  <=  >=
    equality        ==  !=
    bitwise and     &
    bitwise xor     ^
    bitwise or      |
    logical and     and
    logical or      or
    assignment      =
    sequence        ,

So "a - b - c" means "(a - b) - c", and "a = b = c" means "a = (b = c)".

2.7.1 Arithmetic

"*", "/", "%" and binary "-" take two numbers. Two ints give an int; an int
and a float, in either order, or two floats give a float. "+" does the same
and joins text: when one side is a string and the other a bool, int, float
or string, the result is the string of both. Unary "+" and "-" take an int
or a float and give the same type.

"%" is the remainder of the division of its left operand by its right
one; like the other four it works on ints and on floats.

2.7.2 Increment and decrement

"++" and "--" add or subtract one. They take an int or a float that can be
assigned to: a variable, a member, or an array element. Written before the
operand, the value of the expression is the new value; written after it,
the old one. Applying them to anything that cannot be assigned to is
refused ("expression not an l-value").

2.7.3 Bitwise operators

"&", "^" and "|" combine two ints bit by bit; "~" inverts the bits of an
int; "<<" and ">>" shift an int left or right by the number of places
given by the right operand. The right shift keeps the sign.

2.7.4 Comparisons

"<", ">", "<=", ">=", "==" and "!=" give a bool. They compare:

  - any two of bool, int and float, as numbers;
  - a string with a string, by text, or with null;
  - an object with an object or with null, by identity;
  - an array with an array of the same type, or with null, by identity;
  - null with null.

Comparing an object with a number, or arrays of different types, is
refused.

2.7.5 Logical operators

"and" and "or" give a bool. Their operands may be bools, numbers, strings,
objects or arrays; a number is true when it is not zero, a string, object
or array when it is not null. The right operand is evaluated only when the
left one does not already decide the result.

"!" turns any of those into a bool: true when the operand is false, zero or
null.

2.7.6 Assignment

"=" stores the value of its right side into the place named by its left
side, which must be a variable, a member or an array element, and the
whole expression has the stored value. The conversions of 2.6 apply. An
assignment to something that is not a place is refused ("illegal l-value
for assignment").

2.7.7 Member access

"." reaches a member of an object: "train.speed" is the member speed of the
object that train refers to, "train.Stop()" calls its member function Stop.
The member must exist in the variable's class or one of its base classes,
and must be public unless the access happens inside the class itself or a
class derived from it.

A static class is reached through its name: "Settings.maxSpeed" is the
member maxSpeed of the static class Settings. The members of a static class
are the global variables of the library.

A member of the current object can be named without "me.": inside a member
function, "speed" and "me.speed" mean the same.

2.7.8 Indexing and ranges

"a[i]" is element i of the array a. The index must be an int. Indexing a
string gives the character at that place as an int.

"a[i, j]" is a range: the part of the array, or string, a that lies between
the index i and the index j. Either bound may be left out: "a[, j]" starts
at the beginning, "a[i, ]" runs to the end. Both bounds must be ints. A
range can be read, which gives a new array or string, and it can be
assigned to, which replaces that part of a.

2.7.9 Casts

A cast turns a value into another type. Between the primitive types it is
written like a C cast:

    (int)3.7        // 3
    (float)count
    (string)speed   // the text of a number
    (int[])values

A cast to a class is written with the cast keyword and the class name in
angle brackets. It succeeds when the object is of that class or a class
derived from it, and gives null otherwise; it is the usual way to go from
a general object to a particular class:

    Train t = cast<Train>(anything);
    if (t)
      t.Stop();

2.7.10 The words size, isclass, copy and new

"x.size()" is the number of elements of the array x, or the number of
characters of the string x. The parentheses are required: "size" is a
keyword and "x.size" alone is a syntax error.

"x.isclass(C)" is true when the object x is an instance of the class C or
of a class derived from it. The class must be known to the compiler.

"a.copy(b)" copies the elements of the array b into the array a. Both must
be arrays of compatible types.

"new" creates something:

    new Train()       // an instance of the class Train
    new int[10]       // an array of ten ints, all 0
    new Train[4]      // an array of four null references

A class with the specifier static or game cannot be created with new, and
"new" with arguments inside the parentheses is refused: the language has
no constructors.

2.7.11 The current object

"me" is a reference to the object whose member function is running. It
cannot be used in a static class, whose functions have no object.

2.7.12 Constant expressions

When every operand of an arithmetic, bitwise, comparison or logical
operator is a constant, the compiler computes the result itself. The
initial value of a member, a case label and the value of a define member
must be such constant expressions.


2.8 Declarations

2.8.1 Include declarations

A script begins with any number of include declarations, each naming
another script whose classes this one uses:

    include "vehicle.gs"
    include "signals/lamp.gs"

The name is a string constant, taken as it is written (escapes are not
processed) and turned into lower case. The compiler looks it up along the
include path (chapter 3) and compiles that script before this one, unless
it was compiled already for the same library: a script that is included
several times, directly or through other scripts, is compiled once.

Includes must come before the first class. There is no "#", and no
semicolon after an include.

2.8.2 Class declarations

After the includes come one or more class declarations. A script without
any class is a syntax error.

    class Lamp
    {
      bool lit;
      void Switch(bool on) { lit = on; }
    };

A class declaration is the word class, the class name, optionally the word
isclass and a comma-separated list of base classes, then the members in
braces, and a closing semicolon. The semicolon is required.

    class SignalLamp isclass Lamp, Timer
    {
      int colour;
    };

A class takes over every member variable and member function of its base
classes. When it declares a function with the same name and parameter
types as a function of a base class, its own function replaces the base
class's, also when the function is called through a reference of the base
class's type. The return type of such a function must be the same as the
base class's.

The specifiers that may come before the word class are:

    static  the class has exactly one instance, created by the runtime,
            which the script reaches through the class name. Its members
            are the global variables of the library. A static class
            cannot be created with new and cannot be a base class.
    final   no class may derive from this one.
    game    the class is provided by the runtime; scripts declare it so
            that they can use it, and cannot create it with new.

Any other specifier in front of a class is refused. A class cannot derive
from itself, directly or through other classes.

2.8.3 Member variables

A member variable is declared with its type and one or more names, each
optionally with an initial value, and a semicolon:

    int    count = 0, limit = 12;
    string name = "unnamed";
    Train  leader;

The initial value must be a constant expression. Members without one start
as 0, false, 0.0, null or the empty string, as their type demands.

A member may carry the specifier public, which makes it visible outside the
class and its derived classes, and define, which makes it a named constant:

    define int MAX_CARS = 40;
    public int speed;

A define member must have a constant initial value, and its name stands for
that value wherever it is used. The grammar at the end of this chapter does
not list define, but the compiler accepts it. Other specifiers on a member
variable are refused.

2.8.4 Member functions

A member function is declared with its result type, its name, its parameter
list in parentheses, and either a body in braces or a semicolon:

    int Add(int a, int b) { return a + b; }
    void Reset(void);
    void Stop();

An empty parameter list may be written "()" or "(void)". Parameters are
passed by value; for objects and arrays the value is the reference, so a
function can change the object that a parameter refers to.

A declaration with a semicolon instead of a body is a prototype. It makes
the function known before its body is given, later in the same class. A
function of a class may also be declared with a prototype only, when the
body is provided elsewhere, as with native functions.

Two functions of one class may have the same name when their parameter
types differ; the compiler picks the one whose parameter types match the
arguments of a call exactly. Two functions that differ only in their result
type are refused.

The specifiers of a function are:

    public  the function can be called from outside the class and its
            derived classes.
    native  the function is implemented by the runtime, not by the script.
            It has a prototype and no body.
    final   a derived class cannot replace this function.
    thread  the function runs as a thread of its own when it is called (see
            2.9.9). A thread function returns void and cannot be native.

static, game and define are refused on functions.

2.8.5 Local variables

Inside a function body, a variable is declared like a member, anywhere a
statement may stand:

    int i, total = 0;
    Train next;

A local variable is visible from its declaration to the end of the
compound statement that holds it. Local variables take no specifiers. Two
variables of one name in the same block are refused; a variable of an inner
block may hide one of an outer block.
)doc"
R"doc(

2.9 Statements

The body of a function is a compound statement: a list of statements in
braces. Statements run one after the other unless a statement of this
section sends control elsewhere.

2.9.1 Expression statements and the empty statement

An expression followed by a semicolon is a statement; its value, if it has
one, is dropped. Typical expression statements are assignments and calls:

    count = count + 1;
    lamp.Switch(true);
    i++, j--;

A semicolon alone is the empty statement. It does nothing and is useful
where the grammar wants a statement and there is nothing to do.

2.9.2 Compound statements

Braces group statements into one. A compound statement opens a new block
for local variables: a variable declared inside it is gone at its end.

    {
      int t = a;
      a = b;
      b = t;
    }

2.9.3 if and else

    if (condition) statement
    if (condition) statement else statement

The condition is any expression that "and" and "or" accept (2.7.5). An else
belongs to the nearest if that has none:

    if (a)
      if (b) x = 1;
      else   x = 2;     // belongs to "if (b)"

Use braces when the else is meant for the outer if.

2.9.4 while

    while (condition) statement

The statement runs as long as the condition holds; the condition is tested
before each round, so the statement may not run at all.

2.9.5 for

    for (initial; condition; step) statement

The initial expression runs once. Then, as long as the condition holds, the
statement runs, followed by the step expression. Each of the three parts
may be left out, but the two semicolons stay; a missing condition is always
true. The initial part is an expression, not a declaration: declare the
loop variable before the loop.

    int i;
    for (i = 0; i < cars.size(); i++)
      cars[i].Brake();

2.9.6 switch, case and default

    switch (value)
    {
      case 1:  ...
      case 2:  ...
      default: ...
    }

The value must be an int. Control goes to the case label with the same
value, or to default when none matches, and then runs on through the
following labels until a break leaves the switch. Case values must be
constant integral expressions, and no two cases of one switch may have the
same value. A switch needs at least one case and a default; the compiler
refuses a switch that lacks either. case and default outside a switch are
refused.

2.9.7 break, continue and goto

"break" leaves the innermost for, while, switch or wait statement.
"continue" starts the next round of the innermost for or while loop (in a
for loop, after running the step), or returns to the waiting point of the
innermost wait. Either outside such a statement is refused.

"goto label;" sends control to the statement marked "label:" in the same
function. A label is an identifier followed by a colon in front of a
statement:

    retry:
      if (!Connect())
        goto retry;

2.9.8 return

"return;" leaves a function whose result type is void. "return value;"
leaves a function with a result; the value must have the function's result
type, or be convertible to it as in an assignment. A function with a
result that reaches its end without a return gives the default value of
its type.

2.9.9 Threads, wait and on

A function declared with the specifier thread runs, when it is called, as a
thread of its own next to the code that called it. The caller does not
wait for it; it goes on with its next statement at once. A thread function
has the result type void.

A thread usually spends its life in a wait statement:

    wait()
    {
      on "Signal", "Changed":
        UpdateAspect();
        continue;

      on "Train", "Entered", msg:
      {
        Train t = cast<Train>(msg.src);
        if (t)
          t.Brake();
        continue;
      }
    }

"wait()" suspends the thread until a message arrives whose major and minor
types match one of the "on" labels of its body. Control then goes to the
statement behind that label. A "continue" returns to the waiting point; a
"break", or reaching the end of the body, leaves the wait statement.

An "on" label names the major and minor type of a message as two string
constants. A third operand, which must be something that can be assigned
an object (usually a local variable of the runtime's message class), gives
the handler access to the message that arrived. A wait statement needs at
least one on label.

2.9.10 Labelled statements

Labels, case labels, default labels and on labels are written in front of
the statement they mark. In a list of statements the marked statement
follows its label directly; several labels can stand in front of one
statement:

    case 3:
    case 4:
      Slow();
      break;


2.10 Calling functions

A call names a function and gives its arguments in parentheses:

    Reset();
    total = Add(a, b);
    lamp.Switch(false);
    Settings.Load("default");

A function of the current class, or of one of its base classes, is called
by its name alone. A function of another object is called through the
object with ".". A function of a static class is called through the class
name.

The compiler chooses the function by its name and the exact types of the
arguments. It does not convert arguments to find a match: calling a
function that takes a float with an int argument is refused, and the call
must be written with a cast or a float constant. When the name alone is
ambiguous, the call is refused.

The identifier "inherited", called like a function inside a member
function, calls the version of the same function that the base classes
provide:

    void Init(void)
    {
      inherited();
      speed = 0;
    }

inherited can only call the function that is being compiled, and cannot be
used in native or thread functions.

A call to a function of the current class goes through the object's own
class, so that a derived class that replaces the function gets its version
called. This is also true for calls made inside the base class.
)doc"
R"doc(

2.11 Grammar

The grammar below is the complete syntax of a script. Tokens are written in
capitals or as quoted characters; "OP_DIM" is the array mark "[]", which may
have white space between its brackets. The words written in capitals after
KEYWORD_ are the keywords of 2.3. Alternatives are written one per line.

The tokens:

    IDENTIFIER        a letter or "_", then letters, digits and "_"
    CONSTANT_INT      one or more digits
    CONSTANT_HEX      "0x" or "0X", then one or more hex digits
    CONSTANT_FLOAT    digits "." digits, with digits on at least one side,
                      and an optional "f"
    CONSTANT_CHAR     an optional L, then a quoted character constant
    CONSTANT_STRING   an optional L, then a quoted string constant
    OP_DIM            "[" white space "]"
    RIGHT_SHIFT ">>"  LEFT_SHIFT "<<"  INC "++"  DEC "--"
    LTE "<="  GTE ">="  EQ "=="  NEQ "!="

The rules:

    program
        : include_list class_declaration_list
        | class_declaration_list

    include_list
        : include_declaration
        | include_list include_declaration

    include_declaration
        : KEYWORD_INCLUDE CONSTANT_STRING

    class_declaration_list
        : class_declaration
        | class_declaration_list class_declaration

    class_declaration
        : [declaration_specifiers] KEYWORD_CLASS identifier
          [KEYWORD_ISCLASS class_list] '{' [declaration_list] '}' ';'

    class_list
        : identifier
        | class_list ',' identifier

    declaration_list
        : declaration
        | declaration_list declaration

    declaration
        : [declaration_specifiers] function_declaration
        | [declaration_specifiers] function_prototype_declaration
        | [declaration_specifiers] variable_declaration_list

    declaration_specifiers
        : declaration_specifier
        | declaration_specifiers declaration_specifier

    declaration_specifier
        : KEYWORD_PUBLIC | KEYWORD_NATIVE | KEYWORD_FINAL
        | KEYWORD_THREAD | KEYWORD_STATIC | KEYWORD_GAME

    function_prototype_declaration
        : type_specifier identifier '(' ')' ';'
        | type_specifier identifier '(' KEYWORD_VOID ')' ';'
        | type_specifier identifier '(' parameter_list ')' ';'

    function_declaration
        : type_specifier identifier '(' ')' compound_statement
        | type_specifier identifier '(' KEYWORD_VOID ')' compound_statement
        | type_specifier identifier '(' parameter_list ')' compound_statement

    variable_declaration_list
        : type_specifier declarator_list ';'

    declarator_list
        : declarator
        | declarator_list ',' declarator

    declarator
        : identifier
        | identifier '=' constant_expression

    type_specifier
        : primitive_type
        | primitive_type OP_DIM
        | identifier
        | identifier OP_DIM

    primitive_type
        : KEYWORD_VOID | KEYWORD_BOOL | KEYWORD_INT
        | KEYWORD_FLOAT | KEYWORD_STRING | KEYWORD_OBJECT

    parameter_list
        : parameter
        | parameter_list ',' parameter

    parameter
        : type_specifier identifier

    compound_statement
        : '{' '}'
        | '{' statement_list '}'

    statement_list
        : statement
        | statement_list statement

    statement
        : variable_declaration_list
        | labeled_statement
        | compound_statement
        | expression_statement
        | selection_statement
        | iteration_statement
        | jump_statement

    labeled_statement
        : identifier ':' statement
        | KEYWORD_CASE constant_expression ':' statement
        | KEYWORD_DEFAULT ':' statement
        | KEYWORD_ON constant ',' constant ':' statement
        | KEYWORD_ON constant ',' constant ',' unary_expression ':' statement

    expression_statement
        : ';'
        | expression ';'

    selection_statement
        : KEYWORD_IF '(' expression ')' statement
        | KEYWORD_IF '(' expression ')' statement KEYWORD_ELSE statement
        | KEYWORD_SWITCH '(' expression ')' compound_statement
        | KEYWORD_WAIT '(' ')' compound_statement

    iteration_statement
        : KEYWORD_WHILE '(' expression ')' statement
        | KEYWORD_FOR '(' expression_statement expression_statement ')'
          statement
        | KEYWORD_FOR '(' expression_statement expression_statement
          expression ')' statement

    jump_statement
        : KEYWORD_GOTO identifier ';'
        | KEYWORD_CONTINUE ';'
        | KEYWORD_BREAK ';'
        | KEYWORD_RETURN ';'
        | KEYWORD_RETURN expression ';'

    constant_expression
        : logical_or_expression

    expression
        : assignment_expression
        | expression ',' assignment_expression

    assignment_expression
        : logical_or_expression
        | unary_expression '=' assignment_expression

    logical_or_expression
        : logical_and_expression
        | logical_or_expression KEYWORD_OR logical_and_expression

    logical_and_expression
        : inclusive_or_expression
        | logical_and_expression KEYWORD_AND inclusive_or_expression

    inclusive_or_expression
        : exclusive_or_expression
        | inclusive_or_expression '|' exclusive_or_expression

    exclusive_or_expression
        : and_expression
        | exclusive_or_expression '^' and_expression

    and_expression
        : equality_expression
        | and_expression '&' equality_expression

    equality_expression
        : relational_expression
        | equality_expression EQ relational_expression
        | equality_expression NEQ relational_expression

    relational_expression
        : shift_expression
        | relational_expression '<' shift_expression
        | relational_expression '>' shift_expression
        | relational_expression LTE shift_expression
        | relational_expression GTE shift_expression

    shift_expression
        : additive_expression
        | shift_expression LEFT_SHIFT additive_expression
        | shift_expression RIGHT_SHIFT additive_expression

    additive_expression
        : multiplicative_expression
        | additive_expression '+' multiplicative_expression
        | additive_expression '-' multiplicative_expression

    multiplicative_expression
        : cast_expression
        | multiplicative_expression '*' cast_expression
        | multiplicative_expression '/' cast_expression
        | multiplicative_expression '%' cast_expression

    cast_expression
        : unary_expression
        | '(' primitive_type ')' cast_expression
        | '(' primitive_type OP_DIM ')' cast_expression
        | KEYWORD_CAST '<' type_specifier '>' cast_expression

    unary_expression
        : postfix_expression
        | INC unary_expression
        | DEC unary_expression
        | unary_operator cast_expression

    unary_operator
        : '+' | '-' | '~' | '!'

    postfix_expression
        : primary_expression
        | postfix_expression '[' ',' assignment_expression ']'
        | postfix_expression '[' assignment_expression ',' ']'
        | postfix_expression '[' assignment_expression ','
          assignment_expression ']'
        | postfix_expression '[' assignment_expression ']'
        | postfix_expression '(' ')'
        | postfix_expression '(' argument_expression_list ')'
        | postfix_expression '.' identifier
        | postfix_expression INC
        | postfix_expression DEC
        | postfix_expression '.' KEYWORD_SIZE '(' ')'
        | postfix_expression '.' KEYWORD_ISCLASS '(' identifier ')'
        | postfix_expression '.' KEYWORD_COPY '(' assignment_expression ')'

    argument_expression_list
        : assignment_expression
        | argument_expression_list ',' assignment_expression

    primary_expression
        : identifier
        | KEYWORD_ME
        | KEYWORD_NULL
        | constant
        | new_expression
        | '(' expression ')'

    new_expression
        : KEYWORD_NEW primitive_type '(' ')'
        | KEYWORD_NEW primitive_type '(' argument_expression_list ')'
        | KEYWORD_NEW primitive_type '[' expression ']'
        | KEYWORD_NEW identifier '(' ')'
        | KEYWORD_NEW identifier '(' argument_expression_list ')'
        | KEYWORD_NEW identifier '[' expression ']'

    identifier
        : IDENTIFIER

    constant
        : CONSTANT_HEX | CONSTANT_INT | CONSTANT_CHAR | CONSTANT_FLOAT
        | CONSTANT_STRING | KEYWORD_TRUE | KEYWORD_FALSE

Notes on the grammar:

  - The grammar has one ambiguity, the else of nested if statements, which
    is resolved by binding the else to the nearest if.
  - A parse stops at the first syntax error. The compiler reports it as
    "parse error" with the line where it noticed the problem, which may be
    a line or two after the actual mistake.
  - The cast with a primitive type in parentheses only accepts the six
    primitive types. A cast to a class must use the cast keyword.
  - The grammar accepts "new" with arguments, but the compiler refuses it
    later, as it refuses some other constructions that the grammar
    allows. The grammar fixes the form of a script, not all of its rules.
  - A statement list nests without limit in the grammar; the compiler's
    parser grows its stack as needed up to 10000 entries and reports
    "parser stack overflow" for a script that would need more.
)doc"
R"doc(

3. The compiler
---------------

3.1 Running the compiler

The compiler is started through the content utility's "compile" command,
which hands every argument after the command word to the compiler:

    VelmarUtil compile [options] source

The result of the compiler is the number of errors it found. The content
utility reports success when that number is 0 and failure otherwise; its
exit code is then 255.

Given no source, the compiler prints its banner and a short list of its
options and ends with the result 1.

3.2 Options

Options start with "-" and are recognised by their second character. The
text of an option's value follows its letter directly, without a blank:
"-bbuild.log", not "-b build.log". Options and the source may come in any
order; when several sources are named, the last one is compiled.

    -d            Print this document and stop. Nothing is compiled, not
                  even a source named before -d, and options after it are
                  not read. The result is 0.
    -s            Silent: messages are not printed on the standard output.
    -bfilename    Append every message to the file "filename" as well. The
                  file is created when it does not exist, and is never
                  cleared: each run adds its messages at the end.
    -ppathname    Write the library into the folder of "pathname". Only
                  the part up to the last separator counts: "-pout/" writes
                  into the folder out, while "-pout" writes into the current
                  folder, because "out" is taken as the name of a file in
                  it.
    -ipathname    Add the folder "pathname" to the include path. The option
                  can be given several times; the folders are searched in
                  the order given. A folder name longer than 259 characters
                  is not added.
    -o            Accepted for compatibility and without effect; the name of
                  the library always comes from the source's name.
    -c, -t, -l    Accepted and without effect.

Any other option letter, and "-" alone, is ignored.

3.3 The source and the library

The source names the root script of the library. Its folder becomes the
first folder of the include path. The library is written as a file with
the source's name, the extension replaced by ".gsl", into the source's
folder, or into the folder given with -p:

    compile scripts/lamp.gs              writes scripts/lamp.gsl
    compile -pout/ scripts/lamp.gs       writes out/lamp.gsl

A library is only written when the whole compilation had no error. It is
written to a temporary file first, which then takes the place of any
earlier library of the same name; when the library cannot be written
completely, the earlier file is left as it was and the compiler reports
"Unable to open output file." with the result 1.

When the source names a packed script, "lamp.gse", the compiler looks for
"lamp.gs" first and takes the packed form only when the plain one is not
there. The library is "lamp.gsl" either way.

3.4 The include path

Each script named by an include declaration, and the root script itself,
is looked up along the include path: the folder of the source, then the
folders given with -i, in that order. In each folder the compiler tries the
name as written and, when that does not exist and ends in ".gs", the packed
form ".gse"; only then does it go on to the next folder. So a packed script
in an early folder wins over a plain one in a later folder.

An include name may contain folders of its own: include "signals/lamp.gs"
is looked up as "signals/lamp.gs" below each folder of the path. An empty
folder stands for the current folder. A name that starts with "/" names a
file from the root of the file system.

Names are compared without regard to case where the file system allows it,
and every include name is turned into lower case before it is looked up.

A script is identified in the library by its file name alone, without its
folders. Two different scripts of the same file name in different folders
cannot both be part of one library: the second one is taken to be the
first, and not compiled again.

3.5 Messages

The compiler collects its messages while it works and prints them when it
has finished, in the order in which they arose. Errors in a script are
printed as

    script(line) : message

with the name of the script as it was included, the line, and the text of
the error. A script that cannot be found or read gives

    Could not read file  name.

and a failed compilation ends with an empty line and "Build Failed...".
When the language's rules are broken, each broken rule is reported once,
and a summary line "(script) n semantic error(s)" follows the errors of a
script. A syntax error stops the compilation of its script at once; the
rest of the library is still compiled, so that as many errors as possible
are reported in one run.

Messages of the compiler's own making, which no script should cause,
contain the words "Internal Compiler Error" or "Internal Code Generation
Error". They mean that the compiler could not make sense of something it
had accepted itself; please keep the script that caused them.

3.6 How a library is built

The compiler first reads the root script and every script it includes,
depth first: a script is read, then the scripts it includes, each of those
with its own includes, before the next include of the first script. Each
script is read once; its position in this order is its dependency slot in
the library, the root script having slot 0.

Then each script is checked, the included ones before the script that
includes them, so that every class is known before it is used. The root
script's classes are then turned into code, and the library is written.
Only the root script's classes go into the library; the included scripts
are named in it by their identifiers, so that the runtime can find and
load their own libraries.

A script's identifier is a pair of check values: one over the whole text of
the script, and one over its file name in lower case. When a script
changes, its identifier changes, and libraries built against the old text
can be recognised as out of date.


4. The library file
-------------------

Omitted for public release.


5. Byte code
------------

Omitted for public release.


6. Runtime environment
----------------------

Omitted for public release.


7. Runtime stack
----------------

Omitted for public release.


8. Source files
---------------

Omitted for public release.
)doc"
R"doc(

9. Using the language
---------------------

9.1 A first library

The smallest library is a script with one empty class:

    class Nothing
    {
    };

Save it as "nothing.gs" and compile it:

    VelmarUtil compile nothing.gs

The compiler prints nothing and writes "nothing.gsl" beside the script.

9.2 Two classes working together

The example below is a crossing keeper. A Barrier can be lowered and
raised; a Keeper owns two barriers, waits for messages about approaching
and departing trains, and moves the barriers accordingly. The Barrier is
kept in a script of its own, so that other scripts can include it too.

The file "barrier.gs":

    // A barrier that can be open or closed. It remembers how often it
    // has moved, for the maintenance report.
    class Barrier
    {
      define int OPEN = 0;
      define int CLOSED = 1;

      int state = OPEN;
      int moves;
      public string name = "barrier";

      public bool IsClosed(void)
      {
        return state == CLOSED;
      }

      public void Lower(void)
      {
        if (state == CLOSED)
          return;
        state = CLOSED;
        moves++;
      }

      public void Raise(void)
      {
        if (state == OPEN)
          return;
        state = OPEN;
        moves++;
      }

      public int Moves(void)
      {
        return moves;
      }

      public string Report(void)
      {
        return name + " moved " + moves + " times";
      }
    };

The file "keeper.gs":

    include "barrier.gs"

    // Closes the crossing while any train is near and opens it again
    // when the last one has left.
    class Keeper
    {
      Barrier[] barriers;
      int trainsNear;

      public void Init(void)
      {
        barriers = new Barrier[2];
        barriers[0] = new Barrier();
        barriers[1] = new Barrier();
        barriers[0].name = "north barrier";
        barriers[1].name = "south barrier";
        trainsNear = 0;
        Watch();
      }

      void SetAll(bool closed)
      {
        int i;
        for (i = 0; i < barriers.size(); i++)
        {
          if (closed)
            barriers[i].Lower();
          else
            barriers[i].Raise();
        }
      }

      thread void Watch(void)
      {
        wait()
        {
          on "Crossing", "Approach":
          {
            trainsNear++;
            if (trainsNear == 1)
              SetAll(true);
            continue;
          }

          on "Crossing", "Depart":
          {
            if (trainsNear > 0)
              trainsNear--;
            if (trainsNear == 0)
              SetAll(false);
            continue;
          }

          on "Crossing", "Shutdown":
            break;
        }
      }

      public string Status(void)
      {
        string text = "";
        int i;
        for (i = 0; i < barriers.size(); i++)
          text = text + barriers[i].Report() + "\n";
        return text;
      }
    };

Compile the keeper:

    VelmarUtil compile keeper.gs

The compiler reads "keeper.gs", finds the include, reads "barrier.gs" from
the same folder, checks the Barrier class, then the Keeper class, and
writes "keeper.gsl". The library holds the Keeper class and names
"barrier.gs" as a script it depends on; compile "barrier.gs" on its own to
get "barrier.gsl" for the runtime.

A few points the example shows:

  - The define members OPEN and CLOSED are named constants; they take no
    room in a Barrier and can be used wherever a constant is allowed.
  - "moves++" and "trainsNear--" work on members, which are places that
    can be assigned to.
  - "name + " moved " + moves" joins text and turns the int into text.
  - Watch is a thread: Init calls it and goes on at once, while Watch sits
    in its wait statement for the rest of the keeper's life.
  - "continue" inside the wait returns to the waiting point; "break" ends
    the wait, and with it the thread.
  - The array of barriers is created with new and filled element by
    element; its elements start as null.

9.3 Deriving a class

A class can take over another and change part of it. This barrier sounds a
bell whenever it closes:

    include "barrier.gs"

    class BellBarrier isclass Barrier
    {
      int rings;

      public void Lower(void)
      {
        if (!IsClosed())
          rings++;
        inherited();
      }
    };

BellBarrier replaces Lower and calls the Barrier's version through
inherited. A Keeper that holds a BellBarrier in its array of Barrier
references gets the new Lower called, because calls go through the
object's own class.

9.4 Common mistakes

  - Forgetting the semicolon after the closing brace of a class. The
    compiler reports a parse error on the line of the next class, or at
    the end of the file.
  - Writing "&&" or "||". The logical operators are "and" and "or"; "&"
    and "|" work on integers only, and "&&" is two bitwise ands in a row,
    which is a parse error.
  - Calling a function with an argument of a related but different type,
    for example an int where a float is expected. Arguments are not
    converted; write a cast or a float constant such as 2.0.
  - Leaving out the parentheses of size: "list.size" instead of
    "list.size()".
  - Declaring the loop variable inside a for statement. Declare it before
    the loop.
  - A switch without a default. Every switch needs one, even when it only
    breaks.
  - Using a class from another script without including that script. The
    compiler does not search for classes by name; every script must
    include what it uses.

9.5 Packing scripts

Scripts can be handed out in their packed form. The content utility's
"encrypt" command packs a plain script:

    VelmarUtil encrypt keeper.gs

writes "keeper.gse" beside it. A library compiled from packed scripts is
the same, byte for byte, as one compiled from the plain scripts they were
made from, because the compiler reads both forms into the same text. An
empty script cannot be packed.

End of document.
)doc";

} // namespace

const char* LanguageDocument() { return kDocument; }

} // namespace GSCompiler
