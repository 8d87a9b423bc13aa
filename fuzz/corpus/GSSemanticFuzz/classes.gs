static class S { public int g; public define int D = 4; };
class Base { public int pub; void Run(int n) { } public void Go(Base b) { } };
class A isclass Base {
  int[] arr; string s; object o;
  public void Go(Base b) { inherited(b); }
  int T(int i, float f) {
    int k = i + S.D; string t = "x" + k + f;
    arr = new int[k]; arr[0] = arr[1]++; s = s[, 2];
    switch (k) { case 1: break; default: break; }
    wait () { on "a", "b", o: break; on "c", "d": continue; }
    for (k = 0; k < 10; ++k) { if (k == 3) continue; }
    Go(cast<Base> me);
    return k << 2;
  }
};
