class Maths
{
  float Mix(float a, float b)
  {
    string s = "a" + 'b' + 5.5f + .25 + 3.;
    int x = (int)a << 2 >> 1 & 0xff ^ 3 | ~x;
    x = y = -x++ + --z;
    s = s[1,] + s[,2] + s[1,3];
    Maths m = cast<Maths>me;
    int[] list = new int[10];
    m = new Maths();
    if (m.isclass(Maths) and m != null) m.copy(m);
    switch (x) { case 1: x = 2; default: x = 3; }
    label: goto label;
    return a * b / (a - b);
  }
};
