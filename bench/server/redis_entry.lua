-- Redis as the yardstick of a durable entry: what the server does for one,
-- as one script (ARGV: installation, a number that gives the score): a log
-- line, the best score on three boards, and the count of each score.
local uid, score = ARGV[1], tonumber(ARGV[2]) % 302
redis.call('RPUSH', 'log', uid .. ' ' .. score)
for _, board in ipairs({'today', 'week', 'all'}) do
  local old = redis.call('ZSCORE', 'best:' .. board, uid)
  if not old or tonumber(old) < score then
    redis.call('ZADD', 'best:' .. board, score, uid)
    redis.call('HINCRBY', 'count:' .. board, score, 1)
    if old then redis.call('HINCRBY', 'count:' .. board, old, -1) end
  end
end
return 'OK'
