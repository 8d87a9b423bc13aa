include "base.gs"
include "Util.GS"

// A class with members of every kind.
public final class Engine isclass Base, Vehicle
{
  define int MAX_SPEED = 0x7F;
  define string NAME = "engine\n";
  public float[] speeds;
  Vehicle owner;

  native void Notify(string message);
  public static int Count(void);

  thread void Run(int a, object[] list)
  {
    int i, j = 2;
    for (i = 0; i < list.size(); i++) {
      if (list[i] and !(i % 2) or i >= j) continue;
      else break;
    }
    while (a > 0) a = a - 1;
    wait() {
      on "Vehicle", "Derailed" : Notify("derailed");
      on "Train", "Stop", msg : { return; }
    }
  }
};
