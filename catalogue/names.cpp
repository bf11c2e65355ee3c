// Display names for board and preparation codes.
#include "catalogue/catalogue.h"

const char* const BoardNames[BoardNameCount] = {
    "UNK",     "UNK",     "KJA_R02", "KJA_R03", "KJA_R04", "KJB_R01",   "KJC_R01", "KJD_R01",
    "KJD_R02", "KJE_R01", "KJG_R03", "KJH_R02", "VWA_R02", "KJK_R02",   "XYA_R03", "KJG_R04",
    "KJL_R02", "KJN_R0x", "UUA_R0x", "KJP_R0x", "XYB_R0x", "83947_R0x", "VWB_R01", "574747_R01",
};

const char* const ConnectorNames[BoardNameCount] = {
    "UNK",   "UNK",   "14PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "16PIN", "DB9",   "16PIN",
    "16PIN", "16PIN", "16PIN", "16PIN", "RJ45",  "6PIN",  "16PIN", "16PIN",
};

// Indexed by preparation code AND 0x6F; index 2 is deliberately the empty name.
const char* const PreparationNames[PreparationNameCount] = {
    "UNK", "CAN+SPI", "", "RES", "CAN", "SRV", "2RES", "CDC", "MXP/CDC", "SIO/NOK.", "ETH0",
};

const char* BoardName(int index) {
    if (index > 0 && index < BoardNameCount)
        return BoardNames[index];
    return BoardNames[2];
}
