#include "NmeaInterpreter.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "LoggerState.h"
#include "TrackWriter.h"

namespace {

// Room for "%c%11.7f" of any double, so a garbage field never cuts a text.
constexpr size_t TEXT_SIZE = 352;

// Read-outs are ASCII: formatted narrow, then widened, without the heap.
// A leading zero (an empty hemisphere letter) is kept, so the text is empty.
void ShowNarrow(LoggerView& view, int id, const char* text, int length) {
  WCHAR wide[TEXT_SIZE];
  if (length < 0) length = 0;
  if (length > static_cast<int>(TEXT_SIZE) - 1) length = static_cast<int>(TEXT_SIZE) - 1;
  for (int i = 0; i < length; ++i) wide[i] = static_cast<unsigned char>(text[i]);
  wide[length] = TEXT('\0');
  view.SetControlText(id, wide);
}

void ShowCoordinate(LoggerView& view, int id, char hemisphere, double degrees) {
  char text[TEXT_SIZE];
  const int length = snprintf(text, sizeof text, "%c%11.7f", hemisphere, degrees);
  ShowNarrow(view, id, text, length);
}

double Decimal(const char* field) { return strtod(field, NULL); }

// The device's long is 32 bits: a longer number saturates as its strtol does.
LONG Integer(const char* field) {
  const long value = strtol(field, NULL, 10);
  return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<LONG>(value);
}

// ddmm.mmmm or dddmm.mmmm to decimal degrees. The sign is the field's own.
double Degrees(const char* field) {
  const double x = Decimal(field) * 0.01;
  const double whole = trunc(x);
  return whole + (x - whole) * 1.6666666666666667;
}

// Copies as much of a field as fits; a longer one is cut.
template <size_t N>
void CopyField(char (&to)[N], const char* from) {
  size_t i = 0;
  for (; i < N - 1 && from[i]; ++i) to[i] = from[i];
  to[i] = '\0';
}

// Stops at the lowest value instead of overflowing when no $GPGGA comes.
void CountDown(LONG& counter) {
  if (counter > INT32_MIN) --counter;
}

// "$GP", or with anytalker "$" and any two upper-case letters (GN, GL, GA,
// BD, ...): the sentence type follows. In NMEA 0183 a "P" after the "$"
// begins a proprietary sentence ($PGRMC, $PGRME), never a talker, whatever
// its name ends with. A shorter header stops at its zero.
bool KnownTalker(const char* header, BOOL anyTalker) {
  if (header[0] != '$') return false;
  if (!anyTalker) return header[1] == 'G' && header[2] == 'P';
  return header[1] >= 'A' && header[1] <= 'Z' && header[1] != 'P' && header[2] >= 'A' && header[2] <= 'Z';
}

}  // namespace

NmeaInterpreter::NmeaInterpreter() : m_length(0), m_count(0), m_overlong(false) {
  m_line[0] = '\0';
  m_field[0] = m_line;
}

// One scan over the chunk: each byte is appended to the pending line and a
// comma splits it on the way, so a line is complete and split when its line
// feed arrives. A carriage return stays at the end of the last field.
void NmeaInterpreter::Interpret(LoggerState& state, char* chunk) {
  for (const char* p = chunk; *p; ++p) {
    const char c = *p;
    if (c == '\n') {
      EndLine(state);
    } else if (m_length == LINE_SIZE - 1) {
      m_overlong = true;
    } else if (c == ',') {
      m_line[m_length++] = '\0';
      if (m_count < MAX_FIELDS) m_field[++m_count] = m_line + m_length;  // surplus fields are dropped
    } else {
      m_line[m_length++] = c;
    }
  }
  chunk[0] = '\0';
}

void NmeaInterpreter::EndLine(LoggerState& state) {
  struct Handler {
    const char* type;
    int minFields;
    void (NmeaInterpreter::*handle)(LoggerState&);
  };
  static constexpr Handler SENTENCE_HANDLERS[] = {
      {"RMC", 9, &NmeaInterpreter::Rmc},
      {"GGA", 9, &NmeaInterpreter::Gga},
      {"GSA", 2, &NmeaInterpreter::Gsa},
  };

  m_line[m_length] = '\0';
  if (!m_overlong && KnownTalker(m_field[0], state.settings.anytalker)) {
    // The whole rest of the header is compared: exactly six characters, no blank.
    const char* type = m_field[0] + 3;
    for (const Handler& handler : SENTENCE_HANDLERS) {
      if (strcmp(type, handler.type) != 0) continue;
      if (m_count >= handler.minFields) (this->*handler.handle)(state);
      break;
    }
  }
  m_length = 0;
  m_count = 0;
  m_overlong = false;
}

// $GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A
void NmeaInterpreter::Rmc(LoggerState& state) {
  FixData& fix = state.fix;
  LoggerView& view = *state.view;

  fix.latitude = Degrees(m_field[3]);
  fix.latitudeHemisphere = m_field[4][0];
  ShowCoordinate(view, IDC_LATITUDE, fix.latitudeHemisphere, fix.latitude);
  fix.longitude = Degrees(m_field[5]);
  fix.longitudeHemisphere = m_field[6][0];
  ShowCoordinate(view, IDC_LONGITUDE, fix.longitudeHemisphere, fix.longitude);

  fix.speedKmh = Decimal(m_field[7]) * 1.852;
  if (fix.speedKmh > maxSpeed) {
    maxSpeed = fix.speedKmh;
    char text[TEXT_SIZE];
    ShowNarrow(view, IDC_TOP_SPEED, text, snprintf(text, sizeof text, "%.1f", maxSpeed));
  }

  CopyField(fix.fixDate, m_field[9]);
  CopyField(fix.fixTime, m_field[1]);

  CountDown(state.cycleCounter);
  if (state.logging && state.cycleCounter == 0) TrackWriter::DueRecord(state);
}

// $GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47
void NmeaInterpreter::Gga(LoggerState& state) {
  const LONG quality = Integer(m_field[6]);
  state.fix.fixQuality = quality;
  switch (quality) {
    case 0: state.view->SetControlText(IDC_FIX_QUALITY, TEXT("NoFix")); break;
    case 1: state.view->SetControlText(IDC_FIX_QUALITY, TEXT("GPS")); break;
    case 2: state.view->SetControlText(IDC_FIX_QUALITY, TEXT("DGPS")); break;
    default: break;  // other qualities leave the text as it was
  }
  state.fix.altitude = Decimal(m_field[9]);
  state.cycleCounter = 2;
  state.cycleHasGsa = FALSE;
}

// $GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39
void NmeaInterpreter::Gsa(LoggerState& state) {
  // A burst of any talker's sentences holds one GSA per constellation, all
  // for the same fix: only the first since the last GGA counts. A GSA too
  // short to be handled is not that first one.
  if (state.settings.anytalker && state.cycleHasGsa) return;
  state.cycleHasGsa = TRUE;
  state.fix.fixMode = Integer(m_field[2]);
  switch (state.fix.fixMode) {
    case 1: state.view->SetControlText(IDC_FIX_TYPE, TEXT("NA")); break;
    case 2: state.view->SetControlText(IDC_FIX_TYPE, TEXT("2D")); break;
    case 3: state.view->SetControlText(IDC_FIX_TYPE, TEXT("3D")); break;
    default: break;  // other types leave the text as it was
  }
  CountDown(state.cycleCounter);
}
