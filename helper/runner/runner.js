'use strict';
// The runner as it ships with Tarnwick: the least that keeps the helper's contract. It takes the device
// credential from the first line of standard input, reads config.json from its working directory, stays
// alive, and leaves promptly when asked to stop. Plain Node.js, no packages.

const fs = require('fs');

let credential = null;
let config = null;
let input = '';

function readConfiguration() {
    try {
        return JSON.parse(fs.readFileSync('config.json', 'utf8'));
    } catch (error) {
        return null;
    }
}

process.stdin.setEncoding('utf8');
process.stdin.on('data', (chunk) => {
    input += chunk;
});
process.stdin.on('end', () => {
    const newline = input.indexOf('\n');
    credential = newline >= 0 ? input.slice(0, newline) : input;
    input = '';
    config = readConfiguration();
});

// The helper restarts the runner when config.json changes, so reading it once is enough. The long timer
// only keeps the event loop alive; it wakes the process once an hour.
const keepAlive = setInterval(() => {}, 60 * 60 * 1000);

function stop() {
    clearInterval(keepAlive);
    process.exit(0);
}
process.on('SIGTERM', stop);
process.on('SIGINT', stop);
