class Broken {
  void f() {
    /* an unterminated comment after an error
    x = ;
