// UTCTime and GeneralizedTime (X.680 46, 47; DER forms of X.690 11.7, 11.8)
// converted to and from seconds since 1970-01-01 00:00:00 UTC.
#include "certkit/asn1/asn1.h"

namespace ck {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

bool IsLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t DaysInMonth(int64_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the given date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, uint32_t m, uint32_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t mp = (m + 9) % 12;
  const int64_t doy = (153 * mp + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, uint32_t* m, uint32_t* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<uint32_t>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<uint32_t>(mp < 10 ? mp + 3 : mp - 9);
  *y = yoe + era * 400 + (*m <= 2);
}

bool Digits(const uint8_t* text, uint32_t count, uint32_t* value) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

struct Fields {
  int64_t year;
  uint32_t month, day, hour, minute, second;
};

// Checks the calendar fields, applies the zone offset at |zone| (Z or a
// sign and hhmm, ending exactly at |end|) and gives seconds since 1970.
int Combine(const Fields& f, const uint8_t* zone, const uint8_t* end, int64_t* seconds) {
  if (f.month < 1 || f.month > 12) return kAsnErrEncoding;
  // February has 29 days in every leap year of the Gregorian rule.
  if (f.day < 1 || f.day > DaysInMonth(f.year, f.month)) return kAsnErrEncoding;
  if (f.hour > 23 || f.minute > 59 || f.second > 59) return kAsnErrEncoding;
  int64_t offset = 0;
  if (zone >= end) return kAsnErrEncoding;
  if (*zone == 'Z') {
    if (zone + 1 != end) return kAsnErrEncoding;
  } else if (*zone == '+' || *zone == '-') {
    uint32_t oh = 0, om = 0;
    if (end - zone != 5 || !Digits(zone + 1, 2, &oh) || !Digits(zone + 3, 2, &om)) return kAsnErrEncoding;
    if (oh > 23 || om > 59) return kAsnErrEncoding;
    // Local time = UTC + offset, so a plus offset is subtracted.
    offset = (*zone == '+' ? -1 : 1) * static_cast<int64_t>(oh * 3600 + om * 60);
  } else {
    return kAsnErrEncoding;
  }
  *seconds = DaysFromCivil(f.year, f.month, f.day) * kSecondsPerDay + f.hour * 3600 + f.minute * 60 + f.second +
             offset;
  return 0;
}

uint32_t FormatDigits(uint8_t* out, uint32_t value, uint32_t count) {
  for (uint32_t i = count; i-- > 0;) {
    out[i] = static_cast<uint8_t>('0' + value % 10);
    value /= 10;
  }
  return count;
}

// Writes |year| in |yearDigits| digits (two or four), then MMDDHHMMSS and Z.
uint32_t FormatTime(int64_t seconds, uint32_t yearDigits, uint8_t* out) {
  // Floor division, so that times before 1970 give the right day and a
  // non-negative second of the day.
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int64_t year = 0;
  uint32_t month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  const auto r = static_cast<uint32_t>(rest);
  uint32_t pos = FormatDigits(out, static_cast<uint32_t>(year % (yearDigits == 2 ? 100 : 10000)), yearDigits);
  pos += FormatDigits(out + pos, month, 2);
  pos += FormatDigits(out + pos, day, 2);
  pos += FormatDigits(out + pos, r / 3600, 2);
  pos += FormatDigits(out + pos, r / 60 % 60, 2);
  pos += FormatDigits(out + pos, r % 60, 2);
  out[pos++] = 'Z';
  return pos;
}

// GeneralizedTime: YYYYMMDDHH[MM[SS[.fff]]] then Z or a sign and hhmm. Local
// times without a zone are refused; fractions of a second are dropped.
int ParseGeneralizedTimeAnyForm(const uint8_t* text, uint32_t len, int64_t* seconds) {
  if (text == nullptr || len < 11 || len > 64) return kAsnErrEncoding;
  uint32_t year = 0;
  Fields f{};
  if (!Digits(text, 4, &year) || !Digits(text + 4, 2, &f.month) || !Digits(text + 6, 2, &f.day) ||
      !Digits(text + 8, 2, &f.hour)) {
    return kAsnErrEncoding;
  }
  f.year = year;
  uint32_t pos = 10;
  if (pos + 2 <= len && Digits(text + pos, 2, &f.minute)) {
    pos += 2;
    if (pos + 2 <= len && Digits(text + pos, 2, &f.second)) {
      pos += 2;
      if (pos < len && (text[pos] == '.' || text[pos] == ',')) {
        ++pos;
        uint32_t start = pos;
        while (pos < len && text[pos] >= '0' && text[pos] <= '9') ++pos;
        if (pos == start) return kAsnErrEncoding;
      }
    }
  }
  return Combine(f, text + pos, text + len, seconds);
}

}  // namespace

int AsnParseUtcTime(const uint8_t* text, uint32_t len, int64_t* seconds) {
  // YYMMDDHHMM, optional SS, then Z or a sign and hhmm: 11, 13, 15 or 17 octets.
  if (text == nullptr || len < 11 || len > 17) return kAsnErrEncoding;
  uint32_t yy = 0;
  Fields f{};
  if (!Digits(text, 2, &yy) || !Digits(text + 2, 2, &f.month) || !Digits(text + 4, 2, &f.day) ||
      !Digits(text + 6, 2, &f.hour) || !Digits(text + 8, 2, &f.minute)) {
    return kAsnErrEncoding;
  }
  uint32_t pos = 10;
  if (text[pos] >= '0' && text[pos] <= '9') {
    if (len < 13 || !Digits(text + pos, 2, &f.second)) return kAsnErrEncoding;
    pos += 2;
  }
  // RFC 5280 4.1.2.5.1: YY 50 to 99 are 1950 to 1999, 00 to 49 are 2000 to 2049.
  f.year = yy < 50 ? 2000 + yy : 1900 + yy;
  int64_t result = 0;
  int status = Combine(f, text + pos, text + len, &result);
  if (status != 0) return status;
  *seconds = result;
  return 0;
}

int AsnFormatUtcTime(int64_t seconds, uint8_t out[13]) {
  if (seconds < kAsnFirstUtcTimeSecond || seconds > kAsnLastUtcTimeSecond) return kAsnErrArgument;
  FormatTime(seconds, 2, out);
  return 0;
}

int AsnParseGeneralizedTime(const uint8_t* text, uint32_t len, int64_t* seconds) {
  // RFC 5280 4.1.2.5.2: exactly YYYYMMDDHHMMSSZ, no fraction, no offset.
  if (text == nullptr || len != 15 || text[14] != 'Z') return kAsnErrEncoding;
  for (uint32_t i = 0; i < 14; ++i) {
    if (text[i] < '0' || text[i] > '9') return kAsnErrEncoding;
  }
  return ParseGeneralizedTimeAnyForm(text, len, seconds);
}

int AsnFormatGeneralizedTime(int64_t seconds, uint8_t out[15]) {
  if (seconds < kAsnFirstTimeSecond || seconds > kAsnLastTimeSecond) return kAsnErrArgument;
  FormatTime(seconds, 4, out);
  return 0;
}

namespace {

int AppendText(ElementList* list, uint32_t ident, const uint8_t* text, uint32_t len) {
  uint8_t* copy = ElementListCopy(list, text, len);
  if (copy == nullptr) return kAsnErrMemory;
  return ElementAppendContent(list, ident, copy, len);
}

}  // namespace

int AsnDecodeUtcTime(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content,
                     uint32_t contentLen, void* slot) {
  int64_t seconds = 0;
  int status = AsnParseUtcTime(content, contentLen, &seconds);
  if (status == 0 && slot != nullptr) *static_cast<int64_t*>(slot) = seconds;
  return status;
}

int AsnEncodeUtcTime(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  uint8_t text[13];
  int status = AsnFormatUtcTime(*static_cast<const int64_t*>(slot), text);
  if (status != 0) return status;
  return AppendText(list, ident & 0xFF, text, sizeof text);
}

int AsnDecodeGeneralizedTime(uint32_t, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content,
                             uint32_t contentLen, void* slot) {
  int64_t seconds = 0;
  int status = ParseGeneralizedTimeAnyForm(content, contentLen, &seconds);
  if (status == 0 && slot != nullptr) *static_cast<int64_t*>(slot) = seconds;
  return status;
}

int AsnEncodeGeneralizedTime(ElementList* list, uint32_t ident, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  uint8_t text[15];
  int status = AsnFormatGeneralizedTime(*static_cast<const int64_t*>(slot), text);
  if (status != 0) return status;
  return AppendText(list, ident & 0xFF, text, sizeof text);
}

int AsnDecodeTime(uint32_t ident, uint32_t, uint32_t, const uint8_t*, uint32_t, const uint8_t* content,
                  uint32_t contentLen, void* slot) {
  int64_t seconds = 0;
  int status = kAsnErrEncoding;
  if (ident == kAsnUtcTime) {
    status = AsnParseUtcTime(content, contentLen, &seconds);
  } else if (ident == kAsnGeneralizedTime) {
    status = AsnParseGeneralizedTime(content, contentLen, &seconds);
  }
  if (status == 0 && slot != nullptr) *static_cast<int64_t*>(slot) = seconds;
  return status;
}

int AsnEncodeTime(ElementList* list, uint32_t, uint32_t, uint32_t, const void* slot) {
  if (slot == nullptr) return 0;
  const int64_t seconds = *static_cast<const int64_t*>(slot);
  // RFC 5280 4.1.2.5: UTCTime through 2049, GeneralizedTime from 2050 on.
  if (seconds >= kAsnFirstUtcTimeSecond && seconds <= kAsnLastUtcTimeSecond) {
    return AsnEncodeUtcTime(list, kAsnUtcTime, 0, 0, slot);
  }
  return AsnEncodeGeneralizedTime(list, kAsnGeneralizedTime, 0, 0, slot);
}

}  // namespace ck
