#include "assetdb/VADServices.h"

VADServices& GetVADServices() {
  static VADServices services;
  return services;
}
