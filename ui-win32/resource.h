// Identifiers of the Windows window's resources. The control numbers are the program's own (app/
// ControlIds.h); the window's build checks that both say the same.
#pragma once

#define IDD_MAIN                     102
#define IDS_SOCKETS_INIT_FAILED      103
#define IDI_PROGRAM                  128
#define IDC_STATIC                   -1

#define IDC_HOME_NUMBER_LIST         1000
#define IDC_ADD                      1001
#define IDC_NUMBER_EDIT              1002
#define IDC_TX_EDIT                  1003
#define IDC_RX_EDIT                  1004
#define IDC_PLL_TX_EDIT              1006
#define IDC_PLL_RX_EDIT              1008
#define IDC_SAVE_AS                  1009
#define IDC_WRITE                    1010
#define IDC_SERIAL_PORT_EDIT         1011
#define IDC_LOG_CONSOLE              1012
#define IDC_BAUD_EDIT                1013
#define IDC_READ                     1014
#define IDC_OPEN                     1015
#define IDC_WIDE_BAND_ENABLE         1016
#define IDC_WIDE_BAND_DISABLE        1017
#define IDC_WIDE_BAND_GET            1018
#define IDC_WIDE_BAND_SET            1019
#define IDC_WRITE_ALL                1020
#define IDC_READ_ALL                 1021
#define IDC_DISP_LIST                1022
#define IDC_DISP_GET                 1023
#define IDC_DISP_SET                 1024
#define IDC_CLEAR_SCREEN             1025
#define IDC_SERIAL_NUMBER_EDIT       1026
#define IDC_SERIAL_NUMBER_WRITE      1027
#define IDC_DTMF_DELAY_EDIT          1028
#define IDC_DTMF_DELAY_GET           1029
#define IDC_DTMF_DELAY_SET           1030
#define IDC_SERIAL_NUMBER_READ       1031
#define IDC_RADIO_MFG_LIST           1032
#define IDC_RADIO_MFG_GET            1033
#define IDC_RADIO_MFG_SET            1034
#define IDC_MIN_VOLUME_EDIT          1035
#define IDC_MIN_VOLUME_GET           1036
#define IDC_MIN_VOLUME_SET           1037
#define IDC_SQUELCH_GET              1038
#define IDC_SQUELCH_SET              1039
#define IDC_SQUELCH_LIST             1040
#define IDC_USER_DESCRIPTION_EDIT    1041
#define IDC_USER_DESCRIPTION_WRITE   1042
#define IDC_USER_DESCRIPTION_READ    1043
#define IDC_TRANSFER_PROGRESS        1044
#define IDC_STOP                     1045
#define IDC_VERIFY                   1046
