#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct UsbDeviceInfo;

// The IEEE 1284 device ID a printer reports over USB (the printer class's
// GET_DEVICE_ID request): "KEY:value;" pairs such as
// "MFG:Velmora;MDL:VERITONE;SERN:A12345;".

// The ID text of a GET_DEVICE_ID reply: two length bytes that count
// themselves, then the text. Printers that send the length little-endian, or
// a length beyond what arrived, still give the text that did arrive.
std::string DeviceIdFromReply(const uint8_t* reply, int length);

// The printer's serial number as its device ID states it: the first of the
// SERN, SERIALNUMBER and SN fields (keys without regard to case, blanks
// around the value dropped) that holds a value. No value when none does.
std::optional<std::string> DeviceIdSerial(std::string_view deviceId);

// The serial number a print queue's "usb://...?serial=" names the device
// by: the device ID's where it states one, else the USB serial-number
// descriptor's. The printing system names queues the same way, so a queue
// set up on the printer is found by it. Empty when the device has neither.
std::string PrintQueueSerial(const UsbDeviceInfo& device);
