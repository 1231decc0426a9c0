#pragma once
// Resource and control ids of Veltrane.exe, shared by the resource script, the program and its end-to-end tests.

#define IDD_MAIN 101
#define IDI_MAIN 102

// Sender settings.
#define IDC_SOURCE_PORT 1002
#define IDC_DESTINATION_ADDRESS 1003
#define IDC_DESTINATION_PORT 1004
#define IDC_ENABLE_SENDER 1005
#define IDC_SENDER_PERIOD 1010
#define IDC_PACKETS_PER_PERIOD 1011
#define IDC_PACKET_SIZE 1012
#define IDC_SENDER_BUFFER_SIZE 1016
#define IDC_SENDER_STATISTICS 1017
#define IDC_SENDER_RESET 1018

// Receiver settings and results.
#define IDC_ENABLE_RECEIVER 1006
#define IDC_RECEIVER_PORT 1007
#define IDC_GRAPH_PLACEHOLDER 1008
#define IDC_RECEIVER_STATISTICS 1009
#define IDC_RECEIVER_ADDRESS 1013
#define IDC_RECEIVER_RESET 1014
#define IDC_STOP_DISPLAY_TIMER 1015

// The maker's web pages.
#define IDC_FEEDBACK_LINK 1021
#define IDC_HOME_LINK 1022
