-- wrk: ranking entries from distinct installations, so that no limit bites
-- and every entry is a new row on each board.
local threads = 0

function setup(thread)
  threads = threads + 1
  thread:set("tid", threads)
end

local counter = 0

function request()
  counter = counter + 1
  local id = tid * 1000000000 + counter
  return wrk.format("GET", "/cgi-bin/tovrika/tovrentry.cgi?hs=" .. (counter % 302) ..
                    "&nm=Bench" .. tid .. "@" .. id .. "&md=" .. (counter % 2) .. "&vr=2")
end
