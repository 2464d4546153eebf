-- wrk: the ranking page for a visitor who has not asked before, so that the
-- visitor's own rows are read from the database each time.
local counter = 0

function request()
  counter = counter + 1
  return wrk.format("GET", "/wuppet/wpbrand/tovrika/?id=" .. (counter * 7919 % 1000000 + 1))
end
