-- Model pages of the processors zelka-rank-fill names (wrk -s): a family and a clock at random,
-- as /cpu/NAME with the canonical name, every tenth one as JSON.
local families = {"pentium mmx", "pentium ii", "pentium iii", "celeron", "k6-2", "k6-iii",
                  "athlon", "duron", "6x86mx", "winchip c6"}
local sent = 0
function request()
  sent = sent + 1
  local name = string.format("%s %dmhz", families[math.random(1, 10)], 166 + 33 * math.random(0, 25))
  local path = "/cpu/" .. name:gsub(" ", "%%20") .. (sent % 10 == 0 and ".json" or "")
  return wrk.format("GET", path)
end
