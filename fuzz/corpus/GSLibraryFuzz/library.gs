class Base {
  public int Count(int a) { return a; }
};
class Alpha isclass Base {
  public string label = "alpha";
  int[] values;
  int Count(int a) {
    switch (a) {
      case 3: return 30;
      case 1: return values[a]++;
      default: return 0;
    }
  }
};
class Beta {
  Alpha other;
  float speed = 1.5;
  void Run() {
    int i;
    for (i = 0; i < 10; ++i) { if (i == 5) continue; speed = speed * 2; }
    wait() {
      on "Train", "Stop", other: break;
      on "Train", "Go": other.label = "go" + i;
    }
  }
};
